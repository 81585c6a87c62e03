#include "autoget/duplicate_index.h"

#include "autoget/page_tree.h"

namespace vellum {

bool DuplicateIndex::PreorderLess::operator()(const PageNode* a, const PageNode* b) const {
    return precedes_in_preorder(*a, *b);
}

void DuplicateIndex::add(PageNode& node) {
    Group& group = groups_[node.url()];
    group.by_depth[node.depth()].insert(&node);
    if (node.result() != 0) group.with_result.insert(&node);
    if (node.skipReason() == 100) ++group.user_skipped;
    if (node.error() == 0 && !node.is_base()) ++group.children_without_error[node.parent()];
}

void DuplicateIndex::remove(PageNode& node) {
    auto found = groups_.find(node.url());
    if (found == groups_.end()) return;
    Group& group = found->second;
    if (auto depth = group.by_depth.find(node.depth()); depth != group.by_depth.end()) {
        depth->second.erase(&node);
        if (depth->second.empty()) group.by_depth.erase(depth);
    }
    if (node.result() != 0) group.with_result.erase(&node);
    if (node.skipReason() == 100) --group.user_skipped;
    if (node.error() == 0 && !node.is_base()) {
        auto count = group.children_without_error.find(node.parent());
        if (count != group.children_without_error.end() && --count->second == 0) {
            group.children_without_error.erase(count);
        }
    }
    if (group.by_depth.empty()) groups_.erase(found);
}

// Walked literally, the rule visits every other node with the same url in
// pre-order: a user-skipped copy, a copy before this node at no greater
// depth, or a copy after it at a smaller depth makes this one a duplicate;
// otherwise the last copy with a result lends it that result. So: any copy
// shallower than this node, or any copy of equal depth that comes first,
// rules it out wherever it stands.
DuplicateIndex::Verdict DuplicateIndex::judge(const PageNode& node) const {
    Verdict verdict;
    auto found = groups_.find(node.url());
    if (found == groups_.end()) return verdict;
    const Group& group = found->second;

    const int own_skip = node.skipReason() == 100 ? 1 : 0;
    if (group.user_skipped - own_skip > 0) {
        verdict.duplicate = true;
        return verdict;
    }
    if (!group.by_depth.empty() && group.by_depth.begin()->first < node.depth()) {
        verdict.duplicate = true;
        return verdict;
    }
    if (auto same = group.by_depth.find(node.depth()); same != group.by_depth.end()) {
        const PageNode* first = *same->second.begin();
        if (first != &node && precedes_in_preorder(*first, node)) {
            verdict.duplicate = true;
            return verdict;
        }
    }
    for (auto it = group.with_result.rbegin(); it != group.with_result.rend(); ++it) {
        if (*it == &node) continue;
        verdict.result = (*it)->result();
        break;
    }
    return verdict;
}

bool DuplicateIndex::has_child_without_error(const PageNode& parent, std::string_view url) const {
    auto found = groups_.find(url);
    if (found == groups_.end()) return false;
    return found->second.children_without_error.count(&parent) != 0;
}

}  // namespace vellum
