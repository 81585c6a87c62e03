#include "base/folder_name_dialog_win.h"

#include "base/dialog_win.h"
#include "resources/resource.h"

namespace vellum {
namespace {

class FolderNameDialog : public ModalDialog {
public:
    std::string record;  // in: the starting text; out after IDOK: the name typed

    explicit FolderNameDialog(std::string name)
        : ModalDialog(IDD_FOLDER_NAME, "作成するフォルダ名を入力して下さい"), record(std::move(name)) {}

private:
    void on_init() override {
        if (!record.empty()) set_item_text(IDC_FOLDER_NAME, record);
    }
    bool on_ok() override {
        record = item_text(IDC_FOLDER_NAME);
        return true;
    }
};

}  // namespace

int ask_folder_name(HWND owner, std::string& name) {
    FolderNameDialog dialog(name);
    if (dialog.run(owner) != IDOK) return IDCANCEL;
    name = dialog.record;
    return IDOK;
}

}  // namespace vellum
