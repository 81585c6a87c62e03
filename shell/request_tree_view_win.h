// The request tree's view over the main window's tree-view control (id 113):
// the tree's root is TVI_ROOT, every item carries its RequestNode as item
// data, and the outcome shows as the item's state image. UI thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "shell/request_tree.h"

namespace vellum {

class Win32RequestTreeView : public RequestTreeView {
public:
    explicit Win32RequestTreeView(HWND tree_view) : tree_view_(tree_view) {}

    Item root_item() override;
    Item insert_last(Item parent, const std::string& text, RequestNode* node, int state_image) override;
    std::string item_text(Item item) override;
    void set_item_text(Item item, const std::string& text) override;
    void set_state_image(Item item, int image) override;
    void delete_item(Item item) override;
    void select_item(Item item) override;
    RequestNode* node_of(Item item) override;

private:
    HWND tree_view_;
};

}  // namespace vellum
