#include "autoget/page_tree.h"

#include <vector>

#include "autoget/duplicate_index.h"
#include "autoget/url_match.h"
#include "http/url_text.h"

namespace vellum {

PageNode::PageNode() = default;
PageNode::~PageNode() = default;

bool precedes_in_preorder(const PageNode& a, const PageNode& b) {
    if (&a == &b) return false;
    const PageNode* x = &a;
    const PageNode* y = &b;
    while (x->level_ > y->level_) x = x->parent_;
    if (x == y) return false;  // b is an ancestor of a
    while (y->level_ > x->level_) y = y->parent_;
    if (x == y) return true;   // a is an ancestor of b
    while (x->parent_ != y->parent_) {
        x = x->parent_;
        y = y->parent_;
    }
    return x->seq_ < y->seq_;  // siblings keep their insertion order
}

std::string page_label(const PageNode& node) {
    if (node.isLink() == 1) return "(" + std::to_string(node.depth()) + ") " + node.url();
    return node.url();
}

int page_state_image(const PageNode& node) {
    if (node.skipReason() == 100) return 13;
    if (node.skipReason() != 0) return 4;
    if (node.error() == 401) return 15;
    if (node.error() != 0) return 3;
    if (node.activity() == 1) return 6;
    if (node.activity() == 2) return 12;
    const int result = node.result();
    switch (result) {
    case 1: return 2;
    case 2: return 1;
    case 3: return 7;
    case 4: return 8;
    case 5: return 9;
    case 100: return 10;
    default: break;
    }
    if (result >= 300 && result <= 399) return 14;
    if (result >= 400 && result <= 499) return 11;
    return 5;
}

PageTree::PageTree(PageTreeView& view) : view_(view) {}

PageTree::~PageTree() {
    while (PageNode* base = root_.firstChild_) {
        unlink(*base);
        free_node(base);
    }
}

// Frees a detached node and everything below it, deepest first, without
// touching the view or the indexes (the caller has seen to both).
void PageTree::free_node(PageNode* node) {
    std::vector<PageNode*> pending{node};
    std::vector<PageNode*> order;
    while (!pending.empty()) {
        PageNode* next = pending.back();
        pending.pop_back();
        order.push_back(next);
        for (PageNode* child = next->firstChild_; child; child = child->nextSibling_) pending.push_back(child);
    }
    // Children are freed before their parents: a base node owns the job and
    // index its descendants point to.
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        delete *it;
        --node_count_;
    }
}

void PageTree::unlink(PageNode& node) {
    PageNode* parent = node.parent_;
    (node.prevSibling_ ? node.prevSibling_->nextSibling_ : parent->firstChild_) = node.nextSibling_;
    (node.nextSibling_ ? node.nextSibling_->prevSibling_ : parent->lastChild_) = node.prevSibling_;
    node.prevSibling_ = node.nextSibling_ = nullptr;
}

const PageUrl* PageTree::intern(std::string text, const ParsedUrl& record) {
    auto found = urls_.find(text);
    if (found != urls_.end()) {
        for (const std::unique_ptr<PageUrl>& known : found->second) {
            if (known->record == record) return known.get();
        }
        found->second.push_back(std::make_unique<PageUrl>(PageUrl{std::move(text), record}));
        return found->second.back().get();
    }
    auto url = std::make_unique<PageUrl>(PageUrl{std::move(text), record});
    const PageUrl* kept = url.get();
    std::vector<std::unique_ptr<PageUrl>> variants;
    variants.push_back(std::move(url));
    urls_.emplace(std::string_view(kept->text), std::move(variants));
    return kept;
}

template <typename Change>
void PageTree::change_indexed(PageNode& node, Change change) {
    DuplicateIndex* index = node.base_ ? node.base_->index_.get() : nullptr;
    if (index) index->remove(node);
    change();
    if (index) index->add(node);
}

PageNode* PageTree::add_child(bool isLink, PageNode* parent, const ParsedUrl* url, std::unique_ptr<AutoGetJob> job) {
    if (!url || !url->path) return nullptr;
    if (!parent && !job) return nullptr;
    std::optional<std::string> text = url_text(*url);
    if (!text) return nullptr;
    if (parent && parent->base_->index_->has_child_without_error(*parent, *text)) return nullptr;

    auto* node = new PageNode;
    node->url_ = intern(std::move(*text), *url);
    node->isLink_ = isLink ? 1 : 0;
    if (parent) {
        node->depth_ = parent->depth_ + node->isLink_;
        node->job_ = parent->job_;
        node->base_ = parent->base_;
    } else {
        node->ownedJob_ = std::move(job);
        node->job_ = node->ownedJob_.get();
        node->base_ = node;
        node->index_ = std::make_unique<DuplicateIndex>();
        parent = &root_;
    }
    node->parent_ = parent;
    node->level_ = parent->level_ + 1;
    node->seq_ = next_seq_++;
    ++node_count_;

    node->item_ = view_.insert_last(parent->item_, page_label(*node), node);
    if (!node->item_) {
        free_node(node);
        return nullptr;
    }
    node->prevSibling_ = parent->lastChild_;
    (parent->lastChild_ ? parent->lastChild_->nextSibling_ : parent->firstChild_) = node;
    parent->lastChild_ = node;
    node->base_->index_->add(*node);

    admit_node(*node);
    update_icon(*node);
    view_.ensure_visible(node->item_);
    return node;
}

namespace {

// The first three admission rules: depth, skip extensions and image maps,
// restrictions. 0 when none fires.
int rule_reason(const PageNode& node) {
    const AutoGetJob& job = *node.job();
    if (node.depth() > job.maxDepth) return 1;
    if (job.skipExtensions && !job.skipExtensions->empty()) {
        if (const std::optional<std::string_view> extension = url_extension(node.url())) {
            if (list_holds_extension(*job.skipExtensions, *extension, /*skip_empty_entries=*/true)) return 2;
            if (node.isLink() == 1 && equal_ignoring_case(*extension, "map")) return 3;
        }
    }
    if (job.restrictAll == 1 || node.isLink() == 1) {
        if (!job.restrictions) return 2;
        for (const std::string& entry : *job.restrictions) {
            if (!entry.empty() && contains_at_char_position(node.url(), entry, /*case_sensitive=*/true)) return 0;
        }
        return 2;
    }
    return 0;
}

}  // namespace

bool PageTree::admit_node(PageNode& node) {
    int reason = rule_reason(node);
    if (reason == 0) {
        const DuplicateIndex::Verdict verdict = node.base_->index_->judge(node);
        if (!verdict.duplicate) {
            if (!verdict.result) return false;
            change_indexed(node, [&] { node.result_ = *verdict.result; });
            return true;
        }
        reason = 4;
    }
    change_indexed(node, [&] { node.skipReason_ = static_cast<std::uint8_t>(reason); });
    return true;
}

// One step of the fetch walk: into the children unless the node is skipped,
// else to the next sibling, else up, collapsing every item climbed out of.
PageNode* PageTree::walk_step(PageNode* node) {
    if (node->skipReason_ == 0 && node->firstChild_) return node->firstChild_;
    if (node->nextSibling_) return node->nextSibling_;
    for (PageNode* up = node->parent_; up && up != &root_; up = up->parent_) {
        if (up->item_) view_.collapse(up->item_);
        if (up->nextSibling_) return up->nextSibling_;
    }
    return nullptr;
}

PageNode* PageTree::next_node(PageNode* current, bool linkOnly, const LineList& linkExtensions) {
    for (PageNode* node = current ? walk_step(current) : root_.firstChild_; node; node = walk_step(node)) {
        if (!node->item_ || node->skipReason_ != 0 || node->error_ != 0) continue;
        if (node->result_ == 0) {
            if (admit_node(*node)) update_icon(*node);
            if (node->skipReason_ != 0) continue;
        }
        if (node->result_ != 0) {
            // An HTML page without children is expanded from its stored copy.
            if (node->result_ == 2 && !node->firstChild_) return node;
            continue;
        }
        if (!linkOnly) return node;
        const std::string& text = node->url();
        if (!text.empty() && text.back() == '/') return node;
        const std::optional<std::string_view> extension = url_extension(text);
        if (extension && list_holds_extension(linkExtensions, *extension, /*skip_empty_entries=*/false)) return node;
    }
    return nullptr;
}

bool PageTree::subtree_busy(const PageNode& node, const PageNode* being_fetched) const {
    std::vector<const PageNode*> pending{&node};
    while (!pending.empty()) {
        const PageNode* next = pending.back();
        pending.pop_back();
        if (next == being_fetched || next->activity_ != 0) return true;
        for (const PageNode* child = next->firstChild_; child; child = child->nextSibling_) pending.push_back(child);
    }
    return false;
}

// Deletes every node below `node`: each child's subtree in order, a node's
// children (first child first) before the node itself.
void PageTree::delete_children(PageNode& node) {
    struct Frame {
        PageNode* node;
        bool children_done;
    };
    std::vector<Frame> stack;
    for (PageNode* child = node.lastChild_; child; child = child->prevSibling_) stack.push_back({child, false});
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (!top.children_done) {
            top.children_done = true;
            PageNode* parent = top.node;
            for (PageNode* child = parent->lastChild_; child; child = child->prevSibling_) {
                stack.push_back({child, false});
            }
            continue;
        }
        PageNode* done = top.node;
        stack.pop_back();
        done->base_->index_->remove(*done);
        if (done->item_) view_.delete_item(done->item_);
        // Its own children are gone by now; only the node itself is freed.
        done->firstChild_ = done->lastChild_ = nullptr;
        unlink(*done);
        delete done;
        --node_count_;
    }
}

TreeEdit PageTree::delete_subtree(PageNode& node, const PageNode* being_fetched) {
    if (subtree_busy(node, being_fetched)) return TreeEdit::busy;
    delete_children(node);
    node.base_->index_->remove(node);
    unlink(node);
    if (node.item_) view_.delete_item(node.item_);
    free_node(&node);
    return TreeEdit::done;
}

TreeEdit PageTree::reset_to_waiting(PageNode& node, const PageNode* being_fetched) {
    if (subtree_busy(node, being_fetched)) return TreeEdit::busy;
    delete_children(node);
    change_indexed(node, [&] {
        node.error_ = 0;
        node.result_ = 0;
    });
    update_icon(node);
    return TreeEdit::done;
}

void PageTree::toggle_skip(PageNode& node) {
    change_indexed(node, [&] { node.skipReason_ = node.skipReason_ != 0 ? 0 : 100; });
    update_icon(node);
}

void PageTree::set_activity(PageNode& node, int activity) {
    node.activity_ = static_cast<std::uint8_t>(activity);
    update_icon(node);
}

void PageTree::record_fetch_result(PageNode& node, int fetch_result) {
    change_indexed(node, [&] {
        node.activity_ = 0;
        if (fetch_result < 0) {
            node.error_ = -fetch_result;
        } else {
            node.result_ = fetch_result;
        }
    });
    update_icon(node);
}

void PageTree::update_icon(PageNode& node) {
    if (!node.item_) return;
    // Setting an item's image again costs the control a scroll-bar update
    // even when nothing changes; the fetch walk does it for every node.
    const int image = page_state_image(node);
    if (image == node.shownImage_) return;
    view_.set_state_image(node.item_, image);
    node.shownImage_ = static_cast<std::uint8_t>(image);
}

PageNode* PageTree::search_tree(PageNode* start, std::string_view text, bool case_sensitive, bool upward) {
    if (!start || start == &root_) return nullptr;
    PageNode* node = start;
    for (;;) {
        if (upward) {
            if (PageNode* previous = node->prevSibling_) {
                while (previous->lastChild_) previous = previous->lastChild_;
                node = previous;
            } else {
                node = node->parent_;
            }
        } else if (node->firstChild_) {
            node = node->firstChild_;
        } else {
            while (node != &root_ && !node->nextSibling_) node = node->parent_;
            node = node == &root_ ? &root_ : node->nextSibling_;
        }
        if (!node || node == &root_) return nullptr;
        if (contains_at_char_position(node->url(), text, case_sensitive)) {
            if (node->item_) view_.select(node->item_);
            return node;
        }
    }
}

PageNode* PageTree::find_base_url(std::string_view url) const {
    for (PageNode* base = root_.firstChild_; base; base = base->nextSibling_) {
        if (base->item_ && base->url() == url) return base;
    }
    return nullptr;
}

void PageTree::clear() {
    while (PageNode* base = root_.firstChild_) {
        delete_children(*base);
        unlink(*base);
        if (base->item_) view_.delete_item(base->item_);
        free_node(base);
    }
    urls_.clear();
}

ReserveOutcome reserve_base_url(PageTree& tree, const AutoGetSettings& defaults, std::string_view saveFolder,
                             std::string_view method, std::string_view url, const ParsedUrl& urlRecord,
                             const std::optional<ParsedUrl>& referer, const std::optional<std::string>& userAgent,
                             const std::function<bool()>& confirm_duplicate) {
    if (method != "GET") return ReserveOutcome::not_get;
    if (tree.find_base_url(url) && !confirm_duplicate()) return ReserveOutcome::declined;
    auto job = std::make_unique<AutoGetJob>(make_reserved_job(defaults, saveFolder, url, referer, userAgent));
    if (!tree.add_child(false, nullptr, &urlRecord, std::move(job))) return ReserveOutcome::refused;
    return ReserveOutcome::added;
}

}  // namespace vellum
