// The installer's boxes as the user gets them (texts are checked on the real
// program by the end-to-end tests): who owns them, their caption, buttons
// and icons, answered here through the prompt seam.
#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "base/prompt.h"
#include "vellumie/installer_win.h"

namespace vellum {
namespace {

constexpr UINT kQuestion = MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL;
constexpr UINT kError = MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL;
constexpr UINT kDone = MB_OK | MB_SYSTEMMODAL;

class InstallerBoxes : public ::testing::Test, public Prompter {
protected:
    void SetUp() override { previous_ = set_prompter(this); }
    void TearDown() override { set_prompter(previous_); }

    int show(HWND owner, const std::string&, const std::string& caption, UINT flags) override {
        EXPECT_EQ(owner, nullptr);
        EXPECT_EQ(caption, "Vellum IE拡張");
        flags_.push_back(flags);
        if (answers_.empty()) return IDOK;
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
    }

    static InstallerPaths beside_this_test() {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        return installer_paths(path);
    }

    std::deque<int> answers_;
    std::vector<UINT> flags_;
    Prompter* previous_ = nullptr;
};

TEST_F(InstallerBoxes, QuestionsAskAndTheRefusalWarns) {
    answers_ = {IDNO};
    run_installer(beside_this_test());
    EXPECT_EQ(flags_, (std::vector<UINT>{kQuestion, kError}));
}

TEST_F(InstallerBoxes, NoToInstallAndToRemoveEndsWithoutAnotherBox) {
    answers_ = {IDYES, IDNO, IDNO};
    run_installer(beside_this_test());
    EXPECT_EQ(flags_, (std::vector<UINT>{kQuestion, kQuestion, kQuestion}));
}

TEST_F(InstallerBoxes, SuccessIsReportedWithoutAnIcon) {
    // Removal with the real component beside this test: it always succeeds.
    answers_ = {IDYES, IDNO, IDYES};
    run_installer(beside_this_test());
    EXPECT_EQ(flags_, (std::vector<UINT>{kQuestion, kQuestion, kQuestion, kDone}));
}

}  // namespace
}  // namespace vellum
