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

bool online(const Settings& s) { return s.internet && !s.localize; }
bool recording(const Settings& s) { return s.internet && s.localize; }
bool offline(const Settings& s) { return !s.internet && !s.localize; }

TEST(ModeCommands, InternetOffTakesRecordingWithIt) {
    Settings s = with_modes(1, 1);
    toggle_internet(s);
    EXPECT_TRUE(offline(s));
    toggle_internet(s);
    EXPECT_TRUE(online(s));
}

TEST(ModeCommands, LocalizeOnBringsInternetOn) {
    Settings s = with_modes(0, 0);
    toggle_localize(s);
    EXPECT_TRUE(recording(s));
    toggle_localize(s);
    EXPECT_TRUE(online(s));  // turning recording off keeps the network
}

TEST(TrayStep, ThreeStepsComeBackToOffline) {
    Settings s = with_modes(0, 0);
    step_mode(s);
    EXPECT_TRUE(online(s));
    step_mode(s);
    EXPECT_TRUE(recording(s));
    step_mode(s);
    EXPECT_TRUE(offline(s));
}

TEST(TrayStep, RecordingWithoutOnlineIsClearedFirst) {
    Settings s = with_modes(0, 1);
    step_mode(s);
    EXPECT_TRUE(online(s));
}

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
