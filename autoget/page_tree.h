// The page tree: every URL auto-get knows. The base URLs the user reserved
// are the top level (children of a hidden root sentinel); below each are the
// pages and resources found while crawling it. Each base node owns its
// AutoGetJob, which every node of its subtree shares.
//
// UI thread only: the auto-get window owns the tree. The crawler thread only
// reads the one node it was handed (url, urlRecord, result, parent, whether
// it has children), which no operation here frees while it is being fetched.
//
// The tree owns its nodes; pointers to them stay valid until the node is
// deleted (delete_subtree, reset_to_waiting of an ancestor, clear). Node
// state is read through the accessors and changed only through the tree, so
// that the tree's indexes stay true. The window's tree-view control is
// reached through PageTreeView, so every rule here runs without a window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "autoget/autoget_job.h"
#include "autoget/autoget_settings.h"
#include "http/http_message.h"
#include "http/line_list.h"

namespace vellum {

class PageNode;
class DuplicateIndex;

// A URL as the tree holds it: every node with the same text and record
// shares one, which the tree keeps until it is cleared.
struct PageUrl {
    std::string text;
    ParsedUrl record;
};

// Texts the window shows for the tree's refusals and questions.
inline constexpr char kTreeBusyMessage[] = "取得中のツリーです";
inline constexpr char kNotGetMessage[] = "リクエストメソッドが「GET」ではないので、自動取得に予約できません！";
inline constexpr char kDuplicateBaseQuestion[] = "重複していますが、よろしいですか？";

// The tree-view control as the page tree uses it. Items are opaque handles;
// nullptr is "no item". The tree calls these in the order the control must
// see them: an item's children are deleted before the item itself.
class PageTreeView {
public:
    using Item = void*;
    virtual ~PageTreeView() = default;
    // A new last child of `parent` (nullptr: the top level) labelled `label`
    // and carrying `node` as item data, with state image 0; nullptr on failure.
    virtual Item insert_last(Item parent, const std::string& label, PageNode* node) = 0;
    virtual void delete_item(Item item) = 0;
    virtual void set_state_image(Item item, int image) = 0;
    virtual void ensure_visible(Item item) = 0;
    virtual void collapse(Item item) = 0;
    // Selects the item and scrolls it into view.
    virtual void select(Item item) = 0;
};

// What the window's view keeps of a node (autoget/page_tree_view_win.h):
// the control's item while the node has one, the state image it shows, and
// how its branch stood when its item went with a collapsed ancestor's. The
// tree itself never reads it.
struct PageViewSlot {
    void* item = nullptr;         // the control's item, or nullptr
    std::uint8_t image = 0;       // the state image, with or without an item
    bool children_shown = false;  // every child has its item
    bool was_expanded = false;    // while without an item: its branch was open
    // Changes to its item held back while the tree is frozen.
    bool image_pending = false;
    bool children_pending = false;
    bool has_children = false;    // the button, when children_pending
    bool queued = false;          // in the view's list of nodes with waiting changes
    bool collapse_queued = false; // in the view's list of branches to close
};

class PageNode {
public:
    PageNode(const PageNode&) = delete;
    PageNode& operator=(const PageNode&) = delete;

    // Absolute URL as url_text gives it; never a fragment.
    const std::string& url() const { return url_->text; }
    const ParsedUrl& urlRecord() const { return url_->record; }
    PageTreeView::Item item() const { return item_; }
    // 1 reached through a hyperlink; 0 embedded resource or base URL.
    int isLink() const { return isLink_; }
    // 0 none, 1 too deep, 2 skip extension or restriction, 3 image map,
    // 4 duplicate, 100 skipped by the user.
    int skipReason() const { return skipReason_; }
    // 0 for a base URL; parent's depth plus 1 for a link, plus 0 otherwise.
    int depth() const { return depth_; }
    int activity() const { return activity_; }  // 0 idle, 1 being fetched, 2 waiting for a retry
    // 0 not fetched; 1 text, 2 HTML, 3 image, 4 video, 5 other type,
    // 100 no content type, else the HTTP status.
    int result() const { return result_; }
    int error() const { return error_; }  // 0 or the positive code of a failed fetch

    // The root sentinel for a base node; nullptr for the root sentinel.
    PageNode* parent() const { return parent_; }
    PageNode* prevSibling() const { return prevSibling_; }
    PageNode* nextSibling() const { return nextSibling_; }
    PageNode* firstChild() const { return firstChild_; }
    // The base URL's job; the settings dialog edits it in place. nullptr
    // only for the root sentinel.
    AutoGetJob* job() const { return job_; }

    bool is_base() const { return parent_ && !parent_->parent_; }

    // The view's own record of the node; only the view reads or writes it.
    PageViewSlot& view_slot() { return view_slot_; }
    const PageViewSlot& view_slot() const { return view_slot_; }

private:
    friend class PageTree;
    friend bool precedes_in_preorder(const PageNode& a, const PageNode& b);
    PageNode();
    ~PageNode();

    const PageUrl* url_ = nullptr;  // shared, owned by the tree
    PageTreeView::Item item_ = nullptr;
    // Small values kept small: a large site has hundreds of thousands of nodes.
    std::uint8_t isLink_ = 0;
    std::uint8_t skipReason_ = 0;  // at most 100
    std::uint8_t activity_ = 0;
    std::uint8_t shownImage_ = 0;  // the state image the item shows now
    int depth_ = 0;
    int result_ = 0;
    int error_ = 0;
    PageNode* parent_ = nullptr;
    PageNode* prevSibling_ = nullptr;
    PageNode* nextSibling_ = nullptr;
    PageNode* firstChild_ = nullptr;
    AutoGetJob* job_ = nullptr;

    // Bookkeeping: appending needs the last child, the duplicate index needs
    // the base node, the level in the tree and the order among siblings.
    PageNode* lastChild_ = nullptr;
    PageNode* base_ = nullptr;
    int level_ = 0;           // 0 root sentinel, 1 base node, ...
    std::uint64_t seq_ = 0;   // increases with every node made
    PageViewSlot view_slot_;
    std::unique_ptr<AutoGetJob> ownedJob_;      // base nodes only
    std::unique_ptr<DuplicateIndex> index_;     // base nodes only: its subtree's URLs
};

// Whether `a` comes before `b` in a pre-order walk of the tree.
bool precedes_in_preorder(const PageNode& a, const PageNode& b);

// The item label: "(depth) url" for a hyperlink, the url otherwise.
std::string page_label(const PageNode& node);
// The state image of a node in the 16-image strip (bitmap 182); 0 is blank.
int page_state_image(const PageNode& node);

// The refusal of the commands that change a subtree while part of it is
// being fetched; the window shows kTreeBusyMessage for `busy`.
enum class TreeEdit { done, busy };

class PageTree {
public:
    explicit PageTree(PageTreeView& view);
    ~PageTree();  // frees every node without calling the view
    PageTree(const PageTree&) = delete;
    PageTree& operator=(const PageTree&) = delete;

    const PageNode& root() const { return root_; }
    PageNode* first_base() const { return root_.firstChild_; }
    std::size_t node_count() const { return node_count_; }

    // A new node as the last child of `parent`, or a new base node when
    // `parent` is nullptr (then `job` is its job; under a parent the job is
    // the parent's and `job` is dropped). Refused (nullptr; the job freed)
    // without a URL record or its path, without parent and job, when url_text
    // fails, when a sibling without error has the same url, or when the view
    // gives no item. The node is admitted, its image set and scrolled to.
    PageNode* add_child(bool isLink, PageNode* parent, const ParsedUrl* url, std::unique_ptr<AutoGetJob> job);

    // The admission rules (depth, skip extensions and image maps,
    // restrictions, duplicates within the base URL). Returns whether the node
    // changed: a skip reason set, or the result of an earlier copy taken over.
    // Does not touch the image.
    bool admit_node(PageNode& node);

    // The next node to fetch after `current` (nullptr: from the first base
    // node), or nullptr when the walk reaches the end. Items of subtrees the
    // walk climbs out of are collapsed.
    PageNode* next_node(PageNode* current, bool linkOnly, const LineList& linkExtensions);

    // Both refuse while `node` or a node below it is `being_fetched` or busy.
    TreeEdit delete_subtree(PageNode& node, const PageNode* being_fetched);
    TreeEdit reset_to_waiting(PageNode& node, const PageNode* being_fetched);
    // Any skip reason off, or the user's skip on; the image follows.
    void toggle_skip(PageNode& node);

    // The first node after (or, upward, before) `start` in pre-order whose url
    // contains `text`; it is selected. No wrapping; nullptr when none.
    PageNode* search_tree(PageNode* start, std::string_view text, bool case_sensitive, bool upward);
    // The first base node whose url is exactly `url`.
    PageNode* find_base_url(std::string_view url) const;

    // Sets the item's state image from the node's state.
    void update_icon(PageNode& node);

    // What the window records as a fetch goes on; each updates the image.
    void set_activity(PageNode& node, int activity);
    // The crawler's result: negative is the negated failure code (error),
    // otherwise the result. Activity goes back to 0.
    void record_fetch_result(PageNode& node, int fetch_result);

    // Frees every base subtree and its job, deleting their items.
    void clear();

private:
    PageNode* walk_step(PageNode* node);
    bool subtree_busy(const PageNode& node, const PageNode* being_fetched) const;
    void delete_children(PageNode& node);
    void free_node(PageNode* node);
    void unlink(PageNode& node);
    template <typename Change>
    void change_indexed(PageNode& node, Change change);

    const PageUrl* intern(std::string text, const ParsedUrl& record);

    PageTreeView& view_;
    // Each distinct URL once; a text met with different records (a port
    // written two ways) keeps each.
    std::unordered_map<std::string_view, std::vector<std::unique_ptr<PageUrl>>> urls_;
    PageNode root_;
    std::uint64_t next_seq_ = 1;
    std::size_t node_count_ = 0;
};

// Reservation of a request as a new base URL, apart from its windows.
enum class ReserveOutcome {
    not_get,   // the window warns with kNotGetMessage
    declined,  // the URL was a base URL already and the user said No
    refused,   // the tree refused the node
    added,     // the window opens the auto-get window
};

// `confirm_duplicate` is asked kDuplicateBaseQuestion when the URL already is
// a base URL; it returns the user's answer.
ReserveOutcome reserve_base_url(PageTree& tree, const AutoGetSettings& defaults, std::string_view saveFolder,
                             std::string_view method, std::string_view url, const ParsedUrl& urlRecord,
                             const std::optional<ParsedUrl>& referer, const std::optional<std::string>& userAgent,
                             const std::function<bool()>& confirm_duplicate);

}  // namespace vellum
