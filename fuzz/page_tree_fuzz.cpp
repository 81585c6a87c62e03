// Sequences of page-tree operations, one per input byte pair, over a small
// pool of URLs: depths follow the link rule, a new node never stands beside
// a sibling without error that has its url (and without failed fetches no
// two siblings ever share a url), the duplicate index answers as a walk of
// the whole base subtree would, and next_node hands out only nodes that may
// be fetched.
#include <string>
#include <vector>

#include "autoget/page_tree.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/fake_page_tree_view.h"

namespace vellum::fuzz {
namespace {

const char* const kUrls[] = {"http://h/",        "http://h/a.html", "http://h/b.html", "http://h/c/",
                             "http://h/d.gif",   "http://h/e.map",  "http://h/a.html?x", "http://o/x.html"};
constexpr std::size_t kMaxNodes = 300;

std::vector<PageNode*> preorder(const PageTree& tree) {
    std::vector<PageNode*> nodes;
    std::vector<PageNode*> pending;
    for (PageNode* base = tree.first_base(); base; base = base->nextSibling()) pending.insert(pending.begin(), base);
    // pending holds the bases last first; pop from the back gives the first.
    while (!pending.empty()) {
        PageNode* node = pending.back();
        pending.pop_back();
        nodes.push_back(node);
        std::vector<PageNode*> children;
        for (PageNode* child = node->firstChild(); child; child = child->nextSibling()) children.push_back(child);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return nodes;
}

PageNode* base_of(PageNode* node) {
    while (!node->is_base()) node = node->parent();
    return node;
}

// The duplicate rule walked literally over the base subtree: whether another
// copy rules `node` out, and the result of the last copy with one.
std::pair<bool, int> literal_duplicate(const PageTree& tree, PageNode* node) {
    PageNode* base = base_of(node);
    bool before = true;
    int remembered = 0;
    bool inside = false;
    for (PageNode* other : preorder(tree)) {
        if (other == base) inside = true;
        else if (inside && other->parent() == &tree.root()) break;
        if (!inside) continue;
        if (other == node) {
            before = false;
            continue;
        }
        if (other->url() != node->url()) continue;
        if (other->result() != 0) remembered = other->result();
        if (other->skipReason() == 100 || (before && other->depth() <= node->depth()) ||
            (!before && other->depth() < node->depth())) {
            return {true, 0};
        }
    }
    return {false, remembered};
}

void check_tree(const PageTree& tree, bool failures_possible) {
    for (PageNode* node : preorder(tree)) {
        if (node->is_base()) {
            require(node->depth() == 0, "a base node has depth 0");
        } else {
            require(node->depth() == node->parent()->depth() + node->isLink(), "a depth follows the link rule");
            require(node->job() == node->parent()->job(), "a node shares its parent's job");
        }
        if (failures_possible) continue;
        for (PageNode* sibling = node->nextSibling(); sibling; sibling = sibling->nextSibling()) {
            require(sibling->url() != node->url() || node->is_base(), "no two siblings share a url");
        }
    }
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    if (size < 1) return 0;
    const bool failures_possible = data[0] & 1;
    testing::FakePageTreeView view;
    view.keep_log = false;
    PageTree tree(view);

    for (std::size_t at = 1; at + 1 < size; at += 2) {
        const std::uint8_t op = data[at];
        const std::uint8_t arg = data[at + 1];
        const std::vector<PageNode*> nodes = preorder(tree);
        PageNode* target = nodes.empty() ? nullptr : nodes[arg % nodes.size()];
        const std::string url = kUrls[(arg >> 3) % std::size(kUrls)];
        switch (op % 9) {
        case 0: {  // new base node
            if (nodes.size() >= kMaxNodes) break;
            AutoGetJob job;
            job.maxDepth = op % 4;
            job.restrictAll = (op >> 4) & 1;
            if (op & 0x20) job.restrictions = LineList{"http://h/"};
            if (op & 0x40) job.skipExtensions = LineList{"gif"};
            const ParsedUrl parsed = *parse_url(url);
            require(tree.add_child(false, nullptr, &parsed, std::make_unique<AutoGetJob>(job)) != nullptr,
                    "a base node is always added");
            break;
        }
        case 1:
        case 2: {  // new child
            if (!target || nodes.size() >= kMaxNodes) break;
            const ParsedUrl parsed = *parse_url(url);
            bool blocked = false;
            for (PageNode* child = target->firstChild(); child; child = child->nextSibling()) {
                blocked = blocked || (child->error() == 0 && child->url() == url);
            }
            PageNode* added = tree.add_child(op & 0x10, target, &parsed, nullptr);
            require((added == nullptr) == blocked, "only a sibling without error with the same url blocks");
            if (!added) break;
            const auto [duplicate, result] = literal_duplicate(tree, added);
            if (added->skipReason() == 0) {
                require(!duplicate, "an admitted node has no copy that rules it out");
                require(added->result() == result, "an admitted node takes the last copy's result");
            } else if (added->skipReason() == 4) {
                require(duplicate, "a duplicate has a copy that rules it out");
            }
            break;
        }
        case 3: {  // the walk
            PageNode* next = tree.next_node(arg & 1 ? nullptr : target, arg & 2, LineList{"html"});
            if (!next) break;
            require(next->skipReason() == 0 && next->error() == 0, "next_node never hands out a skipped or failed node");
            require(next->result() == 0 || (next->result() == 2 && !next->firstChild()),
                    "next_node hands out a waiting node or an HTML page to expand");
            require(next->item() != nullptr, "next_node hands out a shown node");
            break;
        }
        case 4:
            if (!target) break;
            if (!failures_possible && op & 0x80) break;
            tree.record_fetch_result(*target, (op & 0x80) ? -static_cast<int>(1 + arg % 3) : arg % 6);
            break;
        case 5:
            if (target) tree.toggle_skip(*target);
            break;
        case 6:
            if (target) tree.delete_subtree(*target, (op & 0x10) ? nodes[(arg + 1) % nodes.size()] : nullptr);
            break;
        case 7:
            if (target) tree.reset_to_waiting(*target, nullptr);
            break;
        case 8:
            if (target) tree.set_activity(*target, (op >> 4) % 3);
            break;
        }
        check_tree(tree, failures_possible);
        require(tree.node_count() == preorder(tree).size(), "the count follows the nodes");
    }
    return 0;
}
