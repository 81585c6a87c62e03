// A tree-view stand-in for the page tree: keeps items as the control does
// (label, state image, node, children in order) and logs the calls that
// change what the user sees. For tests, fuzz targets and benchmarks.
#pragma once

#include <algorithm>
#include <list>
#include <string>
#include <vector>

#include "autoget/page_tree.h"

namespace vellum::testing {

class FakePageTreeView : public PageTreeView {
public:
    struct FakeItem {
        std::string label;
        int state = 0;
        PageNode* node = nullptr;
        FakeItem* parent = nullptr;
        std::vector<FakeItem*> children;
        bool collapsed = false;
    };

    Item insert_last(Item parent, const std::string& label, PageNode* node) override {
        if (fail_inserts) return nullptr;
        FakeItem& item = items.emplace_back();
        item.label = label;
        item.node = node;
        item.parent = parent ? static_cast<FakeItem*>(parent) : &root;
        item.parent->children.push_back(&item);
        ++live_items;
        return &item;
    }
    void delete_item(Item item) override {
        auto* fake = static_cast<FakeItem*>(item);
        if (keep_log) log.push_back("delete " + fake->label);
        auto& siblings = fake->parent->children;
        siblings.erase(std::find(siblings.begin(), siblings.end(), fake));
        fake->node = nullptr;
        --live_items;
    }
    void set_state_image(Item item, int image) override { static_cast<FakeItem*>(item)->state = image; }
    void ensure_visible(Item item) override { last_shown = static_cast<FakeItem*>(item); }
    void collapse(Item item) override {
        auto* fake = static_cast<FakeItem*>(item);
        fake->collapsed = true;
        if (keep_log) log.push_back("collapse " + fake->label);
    }
    void select(Item item) override { selected = static_cast<FakeItem*>(item); }

    static FakeItem& of(Item item) { return *static_cast<FakeItem*>(item); }

    // The visible tree: one line per item, indented two spaces a level,
    // "label [state image]".
    std::string dump() const {
        std::string out;
        dump_children(root, 0, out);
        return out;
    }

    FakeItem root;
    std::list<FakeItem> items;  // stable addresses; deleted items stay, detached
    int live_items = 0;
    bool fail_inserts = false;
    bool keep_log = true;
    std::vector<std::string> log;
    FakeItem* last_shown = nullptr;
    FakeItem* selected = nullptr;

private:
    static void dump_children(const FakeItem& item, int level, std::string& out) {
        for (const FakeItem* child : item.children) {
            out += std::string(static_cast<std::size_t>(level) * 2, ' ') + child->label + " [" +
                   std::to_string(child->state) + "]\n";
            dump_children(*child, level + 1, out);
        }
    }
};

}  // namespace vellum::testing
