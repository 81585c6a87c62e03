#include "autoget/url_search_dialog_win.h"

#include "resources/resource.h"

namespace vellum {
namespace {

static_assert(UrlSearchDialog::kDown == IDC_SEARCH_DOWN && UrlSearchDialog::kUp == IDC_SEARCH_UP);

// The stored text is a 260-byte buffer.
constexpr std::size_t kSearchTextLimit = 259;

}  // namespace

UrlSearchDialog::UrlSearchDialog(const UrlSearch& search) : ModalDialog(IDD_URL_SEARCH, "URL検索"), record(search) {}

void UrlSearchDialog::on_init() {
    send_item(IDC_SEARCH_TEXT, EM_LIMITTEXT, kSearchTextLimit);
    set_item_text(IDC_SEARCH_TEXT, record.text);
    set_checked(IDC_SEARCH_CASE, record.caseSensitive);
}

void UrlSearchDialog::finish(INT_PTR direction) {
    record.text = item_text(IDC_SEARCH_TEXT, kSearchTextLimit);
    record.caseSensitive = is_checked(IDC_SEARCH_CASE);
    end(direction);
}

bool UrlSearchDialog::on_ok() {
    // Enter with the focus on a control that is no button: the default
    // button, ↓.
    finish(kDown);
    return false;
}

bool UrlSearchDialog::on_command(UINT id, UINT) {
    if (id != IDC_SEARCH_DOWN && id != IDC_SEARCH_UP) return false;
    finish(static_cast<INT_PTR>(id));
    return true;
}

SearchDirection run_search_dialog(HWND owner, UrlSearch& search) {
    UrlSearchDialog dialog(search);
    const INT_PTR result = dialog.run(owner);
    if (result != UrlSearchDialog::kDown && result != UrlSearchDialog::kUp) return SearchDirection::cancelled;
    search = std::move(dialog.record);
    return result == UrlSearchDialog::kDown ? SearchDirection::down : SearchDirection::up;
}

}  // namespace vellum
