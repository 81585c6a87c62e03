#include "shell/mode_rules.h"

#include <gtest/gtest.h>

#include "resources/resource.h"

namespace vellum {
namespace {

Settings with_modes(std::uint32_t internet, std::uint32_t localize) {
    Settings s;
    s.internet = internet;
    s.localize = localize;
    return s;
}

// The commands and the tray steps are tested on the real window
// (tests/win/main_window_commands_test.cpp); here the icon choice in full.
TEST(ModeIcon, ByModeAndConnections) {
    EXPECT_EQ(mode_icon_id(with_modes(0, 0), 0), IDI_OFFLINE);
    EXPECT_EQ(mode_icon_id(with_modes(1, 0), 0), IDI_ONLINE);
    EXPECT_EQ(mode_icon_id(with_modes(1, 1), 0), IDI_RECORDING);
    EXPECT_EQ(mode_icon_id(with_modes(0, 0), 2), IDI_OFFLINE_BUSY);
    EXPECT_EQ(mode_icon_id(with_modes(1, 0), 1), IDI_ONLINE_BUSY);
    EXPECT_EQ(mode_icon_id(with_modes(1, 1), 1), IDI_RECORDING_BUSY);
    // A recording flag alone already shows recording.
    EXPECT_EQ(mode_icon_id(with_modes(0, 1), 0), IDI_RECORDING);
}

}  // namespace
}  // namespace vellum
