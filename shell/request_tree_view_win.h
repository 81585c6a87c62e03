// The request tree's view over the main window's tree-view control (id 113):
// the tree's root is TVI_ROOT, every item carries its RequestNode as item
// data, and the outcome shows as the item's state image. UI thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "base/tree_read_watch_win.h"
#include "shell/request_tree.h"

namespace vellum {

class Win32RequestTreeView : public RequestTreeView {
public:
    explicit Win32RequestTreeView(HWND tree_view);
    ~Win32RequestTreeView() override;
    Win32RequestTreeView(const Win32RequestTreeView&) = delete;
    Win32RequestTreeView& operator=(const Win32RequestTreeView&) = delete;

    Item root_item() override;
    Item insert_last(Item parent, const std::string& text, RequestNode* node, int state_image) override;
    std::string item_text(Item item) override;
    void set_item_text(Item item, const std::string& text) override;
    void set_state_image(Item item, int image) override;
    void delete_item(Item item) override;
    void select_item(Item item) override;
    RequestNode* node_of(Item item) override;

    // Requests come and go many times a second. Between freeze() and thaw()
    // the control keeps every item added or deleted but neither repaints nor
    // scrolls; the item to select and the state images set wait: thaw() puts
    // each item's latest image on, selects the last item asked for and
    // repaints once. Under Wine each repaint and scroll-bar update costs the
    // UI thread milliseconds per request.
    void freeze();
    void thaw();
    bool frozen() const { return frozen_; }
    // The control's selection changed (its TVN_SELCHANGED). A selection made
    // by someone else while frozen wins over the one waiting.
    void selection_changed();

private:
    void put_state_image(Item item, int image);
    void put_pending_images();
    // TVM_GETITEMA by this view itself, which waiting images need not precede.
    bool read_item(TVITEMA& query);

    HWND tree_view_;
    // Anyone else reading an item (a tester, an accessibility tool) reads the
    // images set so far, frozen or not.
    TreeReadWatch read_watch_;
    bool frozen_ = false;
    // The node whose item a frozen select_item asked for; its item may be
    // rebuilt meanwhile, so the node is kept, not the item.
    RequestNode* to_select_ = nullptr;
    // This view is changing the control itself: the selection moves it
    // causes are not someone else's.
    bool own_change_ = false;
    // State images set while frozen, each item's latest, put on at the thaw.
    struct PendingImage {
        Item item;
        int image;
    };
    std::vector<PendingImage> pending_images_;
};

}  // namespace vellum
