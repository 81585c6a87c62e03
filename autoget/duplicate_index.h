// The URLs of one base node's subtree, indexed so that the duplicate rule
// and the sibling check of the page tree answer without walking the subtree:
// per URL, its nodes by depth in pre-order, those with a result in
// pre-order, the count skipped by the user, and per parent the count of
// children without error.
//
// Owned by the base node; UI thread only. The page tree adds a node once it
// is linked, and takes it out before it is unlinked or before its result,
// error or skip reason changes (adding it again after), so that every node
// it holds is in the tree and ordered as the tree orders it.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vellum {

class PageNode;

class DuplicateIndex {
public:
    void add(PageNode& node);
    void remove(PageNode& node);

    struct Verdict {
        bool duplicate = false;     // another copy rules this one out
        std::optional<int> result;  // else: the result of the last copy that has one
    };
    // The duplicate rule for `node`, which the index holds, against every
    // other node of the subtree with the same url.
    Verdict judge(const PageNode& node) const;

    // Whether `parent` has a child without error whose url is `url`.
    bool has_child_without_error(const PageNode& parent, std::string_view url) const;

private:
    struct PreorderLess {
        bool operator()(const PageNode* a, const PageNode* b) const;
    };
    using Ordered = std::set<const PageNode*, PreorderLess>;
    struct Group {
        std::map<int, Ordered> by_depth;  // never holds an empty set
        Ordered with_result;
        int user_skipped = 0;
        std::unordered_map<const PageNode*, int> children_without_error;  // by parent
    };

        // Keyed by the nodes' own url text, which the tree keeps while they live.
    std::unordered_map<std::string_view, Group> groups_;
};

}  // namespace vellum
