#include "shell/request_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>

namespace vellum {
namespace {

// A tree-view stand-in that keeps items the way the control does: text,
// state image, data and children in order.
class FakeTreeView : public RequestTreeView {
public:
    struct FakeItem {
        std::string text;
        int state = 0;
        RequestNode* node = nullptr;
        FakeItem* parent = nullptr;
        std::vector<FakeItem*> children;
    };

    Item root_item() override { return &root; }
    Item insert_last(Item parent, const std::string& text, RequestNode* node, int state) override {
        auto& item = storage.emplace_back();
        item.text = text;
        item.state = state;
        item.node = node;
        item.parent = static_cast<FakeItem*>(parent);
        item.parent->children.push_back(&item);
        return &item;
    }
    std::string item_text(Item item) override { return static_cast<FakeItem*>(item)->text; }
    void set_item_text(Item item, const std::string& text) override { static_cast<FakeItem*>(item)->text = text; }
    void set_state_image(Item item, int image) override { static_cast<FakeItem*>(item)->state = image; }
    void delete_item(Item item) override {
        auto* fake = static_cast<FakeItem*>(item);
        auto& siblings = fake->parent->children;
        siblings.erase(std::find(siblings.begin(), siblings.end(), fake));
        ++deleted;
    }
    void select_item(Item item) override { selected = static_cast<FakeItem*>(item); }
    RequestNode* node_of(Item item) override { return static_cast<FakeItem*>(item)->node; }

    // The visible tree as text: one line per item, indented by depth, "label [image]".
    std::string dump() const {
        std::string out;
        dump_children(root, 0, out);
        return out;
    }

    FakeItem root;
    std::list<FakeItem> storage;
    FakeItem* selected = nullptr;
    int deleted = 0;

private:
    static void dump_children(const FakeItem& item, int depth, std::string& out) {
        for (const FakeItem* child : item.children) {
            out += std::string(depth * 2, ' ') + child->text + " [" + std::to_string(child->state) + "]\n";
            dump_children(*child, depth + 1, out);
        }
    }
};

std::unique_ptr<ProxyRequest> get(const std::string& url, const std::string& referer = "", bool crawler = false) {
    auto request = std::make_unique<ProxyRequest>();
    request->method = "GET";
    request->url = url;
    request->parsed_url = parse_url(url).value_or(ParsedUrl{});
    if (!referer.empty()) {
        request->referer = referer;
        request->parsed_referer = parse_url(referer);
    }
    request->autoget_mark = crawler;
    return request;
}

class RequestTreeTest : public ::testing::Test {
protected:
    FakeTreeView view;
    RequestTree tree{view};

    RequestNode* done(const std::string& url, const std::string& referer = "", int kind = 2, int status = 200) {
        RequestNode* node = tree.add(get(url, referer));
        tree.finish(node, kind, 0, status, LineList{"log\r\n"});
        return node;
    }
};

TEST(RequestLabel, RelativeToTheParentPage) {
    const std::string page = "http://h/a/index.html";
    EXPECT_EQ(request_label(page, "http://h/a/img/x.gif", false), "img/x.gif");
    EXPECT_EQ(request_label(page, "http://h/b/y.gif", false), "/b/y.gif");
    EXPECT_EQ(request_label(page, "http://other/a/x.gif", false), "http://other/a/x.gif");
    EXPECT_EQ(request_label(page, "http://h/a/", false), "");
    EXPECT_EQ(request_label(page, "http://h/a/x.gif", true), "http://h/a/x.gif");
    // The page's query is not part of its folder.
    EXPECT_EQ(request_label("http://h/cgi/find?q=/x/", "http://h/cgi/y.gif", false), "y.gif");
    // Same host text but a longer host is another host.
    EXPECT_EQ(request_label(page, "http://hh/b.gif", false), "http://hh/b.gif");
    EXPECT_EQ(request_label("ftp://h/a/", "http://h/a/b", false), "http://h/a/b");
}

TEST(RequestLabel, HttpsChildrenOfAnHttpsPage) {
    const std::string page = "https://h:8443/a/index.html";
    EXPECT_EQ(request_label(page, "https://h:8443/a/img/x.gif", false), "img/x.gif");
    EXPECT_EQ(request_label(page, "https://h:8443/b/y.gif", false), "/b/y.gif");
    // Another scheme is shown whole, even on the same host and folder.
    EXPECT_EQ(request_label(page, "http://h:8443/a/x.gif", false), "http://h:8443/a/x.gif");
    EXPECT_EQ(request_label("http://h/a/", "https://h/a/x.gif", false), "https://h/a/x.gif");
}

TEST(RequestStateImage, FirstRuleWins) {
    RequestNode node;
    node.item = &node;  // any non-null item
    auto image = [&](int kind, int status, int abnormal = 0) {
        node.contentClass = kind;
        node.status = status;
        node.abnormal = abnormal;
        return request_state_image(node);
    };
    EXPECT_EQ(image(2, 200, 1), 3);
    EXPECT_EQ(image(-1, -1), 2);
    EXPECT_EQ(image(-2, -1), 15);
    EXPECT_EQ(image(2, 404), 11);
    EXPECT_EQ(image(0, 401), 5);
    EXPECT_EQ(image(2, -1), 12);
    EXPECT_EQ(image(2, 302), 14);
    EXPECT_EQ(image(2, 200), 1);
    EXPECT_EQ(image(3, 304), 7);
    EXPECT_EQ(image(4, 200), 8);
    EXPECT_EQ(image(5, 200), 9);
    EXPECT_EQ(image(1, 200), 6);
    EXPECT_EQ(image(0, 304), 13);
    EXPECT_EQ(image(0, 200), 10);
    node.item = nullptr;
    EXPECT_EQ(image(2, 200), 0);
}

TEST_F(RequestTreeTest, RequestsGroupUnderTheirReferringPage) {
    done("http://h/a/index.html");
    RequestNode* img = tree.add(get("http://h/a/img/x.gif", "http://h/a/index.html"));
    done("http://h/b/y.gif", "http://h/a/index.html", 3);
    done("http://other/z.gif", "http://h/a/index.html", 3);
    done("http://h/q.html", "http://nowhere/");
    EXPECT_EQ(view.dump(),
              "http://h/a/index.html [1]\n"
              "  img/x.gif [2]\n"
              "  /b/y.gif [7]\n"
              "  http://other/z.gif [7]\n"
              "http://h/q.html [1]\n");
    EXPECT_EQ(view.selected->node->url(), "http://h/q.html");
    EXPECT_EQ(img->parent->url(), "http://h/a/index.html");
}

TEST_F(RequestTreeTest, CrawlerAndFailureImages) {
    auto crawl = get("http://h/c.html", "", true);
    RequestNode* node = tree.add(std::move(crawl));
    EXPECT_EQ(view.dump(), "http://h/c.html [15]\n");
    tree.finish(node, 0, 1, -1, LineList{});
    EXPECT_EQ(view.dump(), "http://h/c.html [3]\n");
}

TEST_F(RequestTreeTest, ATunnelIsLabelledWithItsTargetAndShowsHowItEnded) {
    auto connect = [](const std::string& target) {
        auto request = std::make_unique<ProxyRequest>();
        request->method = "CONNECT";
        request->url = target;
        request->parsed_url = parse_url(target).value_or(ParsedUrl{});
        return request;
    };
    done("http://h/a.html");
    RequestNode* open = tree.add(connect("h:443"));
    RequestNode* refused = tree.add(connect("h:22"));
    EXPECT_EQ(view.dump(), "http://h/a.html [1]\nh:443 [2]\nh:22 [2]\n");
    tree.finish(open, 0, 0, 200, LineList{});
    tree.finish(refused, 0, 1, 403, LineList{});
    EXPECT_EQ(view.dump(), "http://h/a.html [1]\nh:443 [4]\nh:22 [3]\n");
}

TEST_F(RequestTreeTest, ElevenFinishedPagesLeaveTen) {
    done("http://h/0.html");
    done("http://h/0.gif", "http://h/0.html", 3);
    for (int i = 1; i <= 10; ++i) done("http://h/" + std::to_string(i) + ".html");
    EXPECT_EQ(tree.root().children.size(), 10u);
    EXPECT_EQ(tree.root().children.front()->url(), "http://h/1.html");
    EXPECT_EQ(view.root.children.size(), 10u);
    EXPECT_EQ(view.dump().find("/0."), std::string::npos) << "the oldest page went with its children";
}

TEST_F(RequestTreeTest, PinnedPagesAreNeverPruned) {
    RequestNode* loading = tree.add(get("http://h/loading.html"));
    done("http://h/parent.html");
    RequestNode* child = tree.add(get("http://h/slow.gif", "http://h/parent.html"));
    RequestNode* command = done("http://h/selected.html");
    tree.pin(command);  // a request-tree command runs on it
    for (int i = 0; i < 12; ++i) done("http://h/" + std::to_string(i) + ".html");
    std::vector<std::string> top;
    for (auto& page : tree.root().children) top.push_back(page->url());
    EXPECT_EQ(top.size(), 13u);
    EXPECT_EQ(top[0], "http://h/loading.html");
    EXPECT_EQ(top[1], "http://h/parent.html");
    EXPECT_EQ(top[2], "http://h/selected.html");
    EXPECT_EQ(top[3], "http://h/2.html");
    EXPECT_EQ(child->parent->pins, 1);

    tree.finish(child, 3, 0, 200, LineList{});
    tree.finish(loading, 2, 0, 200, LineList{});
    tree.unpin(command);
    done("http://h/last.html");
    EXPECT_EQ(tree.root().children.size(), 10u);
    // Each finish prunes down to ten idle pages: parent, loading, then selected and 2.html went.
    EXPECT_EQ(tree.root().children.front()->url(), "http://h/3.html");
    EXPECT_EQ(tree.root().pins, 0);
}

TEST_F(RequestTreeTest, FollowingALinkMovesTheOlderPageToTheBottom) {
    done("http://h/old.html");
    done("http://h/old.gif", "http://h/old.html", 3);
    done("http://h/new.html");
    RequestNode* next = tree.add(get("http://h/next.html", "http://h/old.html"));
    EXPECT_EQ(view.dump(),
              "http://h/new.html [1]\n"
              "http://h/old.html [1]\n"
              "  old.gif [7]\n"
              "  next.html [2]\n");
    EXPECT_EQ(next->parent, tree.root().children.back().get());
    EXPECT_EQ(tree.root().children.back()->pins, 1) << "pinned by its loading child";
    // Items carry their nodes after the rebuild.
    for (auto* item : view.root.children) EXPECT_EQ(item->node->item, item);
}

TEST_F(RequestTreeTest, AChildBecomesTopLevelWithItsFullUrlWhenFollowed) {
    done("http://h/a/index.html");
    done("http://h/a/sub.html", "http://h/a/index.html");
    RequestNode* inner = tree.add(get("http://h/a/inner.gif", "http://h/a/sub.html"));
    EXPECT_EQ(view.dump(),
              "http://h/a/index.html [1]\n"
              "http://h/a/sub.html [1]\n"
              "  inner.gif [2]\n");
    EXPECT_EQ(tree.root().children.front()->pins, 0) << "the pin moved with the subtree";
    EXPECT_EQ(inner->parent->parent, &tree.root());
}

TEST_F(RequestTreeTest, TheLastMatchInDisplayOrderWins) {
    done("http://h/p.html");
    done("http://h/other.html");
    done("http://h/p.html", "http://h/other.html");  // a second p.html, deeper and later
    RequestNode* second = tree.root().children.back()->children.back().get();
    RequestNode* node = tree.add(get("http://h/x.gif", "http://h/p.html"));
    EXPECT_EQ(node->parent, second);
    EXPECT_EQ(tree.root().children.back().get(), second) << "and that page moved to the bottom";
}

}  // namespace
}  // namespace vellum
