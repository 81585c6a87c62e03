#include "shell/request_tree.h"

#include <algorithm>

#include "http/url_text.h"
#include "proxy/connect_target.h"

namespace vellum {
namespace {

const std::string kNoUrl;

}  // namespace

const std::string& RequestNode::url() const {
    return request && request->url ? *request->url : kNoUrl;
}

std::string request_label(const std::string& parent_url, const std::string& url, bool parent_is_root) {
    // Only within one scheme: an http:// child of an https:// page (or the
    // other way round) is shown whole.
    const std::string kScheme = parent_url.starts_with("https://") ? "https://" : "http://";
    if (parent_is_root || !parent_url.starts_with(kScheme) || !url.starts_with(kScheme)) return url;
    const std::string page = parent_url.substr(0, parent_url.find('?'));
    const std::size_t last_slash = page.rfind('/');
    if (last_slash == std::string::npos) return url;
    const std::string folder = page.substr(0, last_slash + 1);
    if (url.starts_with(folder)) return url.substr(folder.size());
    const std::size_t parent_host_end = parent_url.find('/', kScheme.size());
    const std::size_t host_end = url.find('/', kScheme.size());
    if (parent_host_end == std::string::npos || host_end == std::string::npos) return url;
    if (parent_host_end == host_end && parent_url.compare(0, parent_host_end, url, 0, host_end) == 0) {
        return url.substr(host_end);  // same host: the absolute path
    }
    return url;
}

int request_state_image(const RequestNode& node) {
    if (!node.item) return 0;
    if (node.abnormal) return 3;
    if (node.contentClass == -1) return 2;
    if (node.contentClass == -2) return 15;
    if (node.tunnel()) return 4;
    if (node.status == 404) return 11;
    if (node.status == 401) return 5;
    if (node.status == -1) return 12;
    if (node.status != 200 && node.status != 304) return 14;
    switch (node.contentClass) {
    case 2: return 1;
    case 3: return 7;
    case 4: return 8;
    case 5: return 9;
    case 1: return 6;
    case 0: return node.status == 304 ? 13 : 10;
    default: return 0;
    }
}

bool RequestNode::tunnel() const {
    return request && request->method == kConnectMethod;
}

RequestTree::RequestTree(RequestTreeView& view) : view_(view) {
    init();
}

void RequestTree::init() {
    root_.children.clear();
    root_.pins = 0;
    root_.item = view_.root_item();
}

void RequestTree::pin(RequestNode* node) {
    for (; node; node = node->parent) {
        if (++node->pins != 1) break;  // the parent already counts this child
    }
}

void RequestTree::unpin(RequestNode* node) {
    for (; node; node = node->parent) {
        if (node->pins <= 0) break;
        if (--node->pins != 0) break;
    }
}

RequestNode* RequestTree::find_referring_node(const std::string& url_text) {
    // Depth first, in display order: the last match wins.
    RequestNode* match = nullptr;
    std::vector<RequestNode*> pending;
    for (auto it = root_.children.rbegin(); it != root_.children.rend(); ++it) pending.push_back(it->get());
    while (!pending.empty()) {
        RequestNode* node = pending.back();
        pending.pop_back();
        if (node->url() == url_text) match = node;
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) pending.push_back(it->get());
    }
    return match;
}

RequestNode* RequestTree::add(std::shared_ptr<const ProxyRequest> request) {
    if (!request) return nullptr;
    RequestNode* parent = &root_;
    if (request->parsed_referer) {
        if (std::optional<std::string> referer = url_text(*request->parsed_referer)) {
            if (RequestNode* referring = find_referring_node(*referer)) {
                move_to_top_level_end(referring);
                parent = referring;
            }
        }
    }

    auto node = std::make_unique<RequestNode>();
    const bool crawler = request->autoget_mark || request->forced_get_mark;
    node->request = std::move(request);
    node->contentClass = crawler ? -2 : -1;
    node->pins = 1;
    node->parent = parent;
    pin(parent);

    RequestNode* added = node.get();
    parent->children.push_back(std::move(node));
    added->item = view_.insert_last(parent->item, label_of(*added), added, 0);
    if (added->item) {
        view_.set_state_image(added->item, request_state_image(*added));
        view_.select_item(added->item);
    }
    return added;
}

void RequestTree::move_to_top_level_end(RequestNode* node) {
    RequestNode* old_parent = node->parent;
    if (old_parent == &root_ && root_.children.back().get() == node) return;

    auto& siblings = old_parent->children;
    auto it = std::find_if(siblings.begin(), siblings.end(), [node](const auto& child) { return child.get() == node; });
    std::unique_ptr<RequestNode> owned = std::move(*it);
    siblings.erase(it);
    if (node->pins != 0) {  // the pin moves with the page
        unpin(old_parent);
        pin(&root_);
    }
    node->parent = &root_;
    root_.children.push_back(std::move(owned));
    rebuild_items(node, root_.item);
    if (node->item) view_.set_item_text(node->item, label_of(*node));  // top level: the full URL
}

void RequestTree::rebuild_items(RequestNode* node, RequestTreeView::Item parent_item) {
    RequestTreeView::Item old_item = node->item;
    const std::string text = old_item ? view_.item_text(old_item) : label_of(*node);
    node->item = view_.insert_last(parent_item, text, node, 0);
    if (node->item) view_.set_state_image(node->item, request_state_image(*node));
    for (auto& child : node->children) rebuild_items(child.get(), node->item);
    // The children's old items go with their parent's; they were rebuilt first.
    if (old_item) view_.delete_item(old_item);
}

std::string RequestTree::label_of(const RequestNode& node) const {
    const bool top_level = node.parent == &root_ || node.parent == nullptr;
    return request_label(top_level ? std::string() : node.parent->url(), node.url(), top_level);
}

void RequestTree::finish(RequestNode* node, int content_class, int abnormal, int status, LineList log) {
    if (!node) return;
    node->contentClass = content_class;
    node->abnormal = abnormal;
    unpin(node);
    node->status = status;
    node->log = std::move(log);
    if (node->item) view_.set_state_image(node->item, request_state_image(*node));
    prune();
}

void RequestTree::prune() {
    auto idle = [](const std::unique_ptr<RequestNode>& page) { return page->pins == 0; };
    auto count = std::count_if(root_.children.begin(), root_.children.end(), idle);
    while (count > kIdlePagesKept) {
        auto oldest = std::find_if(root_.children.begin(), root_.children.end(), idle);
        delete_node(oldest->get());
        --count;
    }
}

void RequestTree::delete_node(RequestNode* node) {
    while (!node->children.empty()) delete_node(node->children.back().get());
    if (node->item) view_.delete_item(node->item);
    auto& siblings = node->parent->children;
    siblings.erase(std::find_if(siblings.begin(), siblings.end(), [node](const auto& c) { return c.get() == node; }));
}

}  // namespace vellum
