// The request tree: every request that passes through the proxy, grouped under
// the page that referred to it, with its outcome as a state image. At most ten
// idle top-level pages are kept; older ones are pruned as new ones finish.
//
// UI thread only. The tree owns its nodes, each node its log and its request
// (shared with the connection while it runs). The tree-view control is
// reached through RequestTreeView, so the rules here (parent search, labels,
// pinning, pruning, image choice) run anywhere; the main window supplies the
// real tree view.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "http/http_message.h"
#include "http/line_list.h"

namespace vellum {

struct RequestNode;

// The tree-view control as the request tree uses it. Items are opaque handles.
class RequestTreeView {
public:
    using Item = void*;
    virtual ~RequestTreeView() = default;
    virtual Item root_item() = 0;
    // Inserts a last child of `parent` carrying `node` as its data; nullptr on failure.
    virtual Item insert_last(Item parent, const std::string& text, RequestNode* node, int state_image) = 0;
    virtual std::string item_text(Item item) = 0;
    virtual void set_item_text(Item item, const std::string& text) = 0;
    virtual void set_state_image(Item item, int image) = 0;
    virtual void delete_item(Item item) = 0;
    virtual void select_item(Item item) = 0;  // also scrolls it into view
    // The node an item carries, or nullptr when the item can't be read.
    virtual RequestNode* node_of(Item item) = 0;
};

struct RequestNode {
    std::shared_ptr<const ProxyRequest> request;  // none only for the root; shared with its connection until it ends
    std::optional<LineList> log;             // none until the request has finished
    int contentClass = -1;  // -1 browser request in progress, -2 crawler request in progress, >= 0 finished
    int status = -1;        // HTTP status; -1 until known or when no answer came
    int abnormal = 0;
    int pins = 0;
    RequestTreeView::Item item = nullptr;
    RequestNode* parent = nullptr;
    std::vector<std::unique_ptr<RequestNode>> children;  // in display order

    // The request-line target as received; empty for the root.
    const std::string& url() const;
    bool finished() const { return contentClass >= 0; }
    // A CONNECT: labelled with its target, and shown as a tunnel once ended.
    bool tunnel() const;
};

class RequestTree {
public:
    // Top-level pages kept once idle.
    static constexpr int kIdlePagesKept = 10;

    explicit RequestTree(RequestTreeView& view);
    RequestTree(const RequestTree&) = delete;
    RequestTree& operator=(const RequestTree&) = delete;

    // Empties the tree (the view's items are the caller's business).
    void init();
    // Shows a new request under the page it came from; nullptr without a request.
    RequestNode* add(std::shared_ptr<const ProxyRequest> request);
    // Records the outcome, unpins the node, updates its image and prunes.
    void finish(RequestNode* node, int content_class, int abnormal, int status, LineList log);
    void pin(RequestNode* node);
    void unpin(RequestNode* node);
    RequestNode* node_of_item(RequestTreeView::Item item) { return view_.node_of(item); }

    const RequestNode& root() const { return root_; }
    RequestNode& root() { return root_; }

private:
    RequestNode* find_referring_node(const std::string& url_text);
    void move_to_top_level_end(RequestNode* node);
    void rebuild_items(RequestNode* node, RequestTreeView::Item parent_item);
    std::string label_of(const RequestNode& node) const;
    void prune();
    void delete_node(RequestNode* node);

    RequestTreeView& view_;
    RequestNode root_;
};

// The label of a request shown under a page: its URL relative to the page's
// folder, or its absolute path on the same host, or the whole URL.
std::string request_label(const std::string& parent_url, const std::string& url, bool parent_is_root);

// The state image of a node (0 blank, 1-15 as the image strip shows them). A
// tunnel shows the in-progress arrow while it runs, the cross when it failed
// or was refused, and its own image (4) once it ended normally.
int request_state_image(const RequestNode& node);

}  // namespace vellum
