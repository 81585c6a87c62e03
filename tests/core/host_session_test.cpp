#include "vellumhost/host_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vellumhost/host_manifest.h"

namespace vellum {
namespace {

class ScriptedHost : public NativeInput, public HostPlatform {
public:
    explicit ScriptedHost(std::string input) : input_(std::move(input)) {}

    std::size_t read(char* buffer, std::size_t size) override {
        const std::size_t count = std::min(size, input_.size() - position_);
        input_.copy(buffer, count, position_);
        position_ += count;
        return count;
    }
    std::optional<ReservationFailure> reserve(const ReservationMessage& message) override {
        reserved.push_back(message);
        return failure;
    }
    // Marks the conversion, so that a test sees every answer went through it.
    std::string to_utf8(std::string_view ansi) override { return "<" + std::string(ansi) + ">"; }
    bool write(std::string_view bytes) override {
        if (!writable) return false;
        output.append(bytes);
        return true;
    }

    // The answers written, unframed.
    std::vector<std::string> answers() const {
        std::vector<std::string> texts;
        for (std::size_t at = 0; at + 4 <= output.size();) {
            const auto length = static_cast<std::size_t>(static_cast<unsigned char>(output[at])) |
                                static_cast<std::size_t>(static_cast<unsigned char>(output[at + 1])) << 8;
            texts.push_back(output.substr(at + 4, length));
            at += 4 + length;
        }
        return texts;
    }

    std::optional<ReservationFailure> failure;
    bool writable = true;
    std::vector<ReservationMessage> reserved;
    std::string output;

private:
    std::string input_;
    std::size_t position_ = 0;
};

std::string answer(bool ok, const std::string& text) { return build_native_answer(ok, "<" + text + ">"); }

TEST(NativeHost, EachMessageIsReservedAndAnsweredUntilTheInputEnds) {
    ScriptedHost host(frame_native_message("{\"url\":\"http://a/\",\"referer\":\"\",\"userAgent\":\"UA\"}") +
                      frame_native_message("{\"url\":\"http://b/\",\"userAgent\":\"UA\"}"));
    EXPECT_EQ(run_native_host(host, host), 0);
    ASSERT_EQ(host.reserved.size(), 2u);
    EXPECT_EQ(host.reserved[0].url, "http://a/");
    EXPECT_EQ(host.reserved[0].referer, "");
    EXPECT_EQ(host.reserved[1].url, "http://b/");
    EXPECT_EQ(host.answers(), (std::vector<std::string>{answer(true, kReservedText), answer(true, kReservedText)}));
}

TEST(NativeHost, TheReservationsFailureIsTheAnswerInTheComponentsWords) {
    ScriptedHost host(frame_native_message("{\"url\":\"http://a/\",\"userAgent\":\"UA\"}"));
    host.failure = ReservationFailure::kNotRunning;
    EXPECT_EQ(run_native_host(host, host), 0);
    EXPECT_EQ(host.answers(), std::vector<std::string>{answer(false, "Vellum が起動されていません")});
}

TEST(NativeHost, MissingFieldsStillGoToTheReservationWhichTellsThem) {
    // The proxy is looked for first, as tessel.dll does: the order of its
    // failures is the reservation's, not the message's.
    ScriptedHost host(frame_native_message("{\"userAgent\":\"UA\"}"));
    host.failure = ReservationFailure::kNoUrl;
    EXPECT_EQ(run_native_host(host, host), 0);
    ASSERT_EQ(host.reserved.size(), 1u);
    EXPECT_FALSE(host.reserved[0].url);
    EXPECT_EQ(host.answers(), std::vector<std::string>{answer(false, "URL が未指定です")});
}

TEST(NativeHost, FaultyMessagesAreAnsweredAndNeverReserved) {
    ScriptedHost host(frame_native_message("not json") + frame_native_message("{\"url\":\"ftp://h/\"}") +
                      frame_native_message(std::string(kMaxNativeMessageSize + 1, '{')) +
                      frame_native_message("{\"url\":\"http://h/\",\"userAgent\":\"UA\"}"));
    EXPECT_EQ(run_native_host(host, host), 0);
    EXPECT_EQ(host.reserved.size(), 1u);
    EXPECT_EQ(host.answers(), (std::vector<std::string>{answer(false, "メッセージが JSON として読めません"),
                                                        answer(false, "URL が http:// または https:// で始まっていません"),
                                                        answer(false, kMessageTooLargeText),
                                                        answer(true, kReservedText)}));
}

TEST(NativeHost, AHalfMessageIsAnsweredAndEndsTheRun) {
    ScriptedHost host(frame_native_message("{}").substr(0, 5));
    EXPECT_EQ(run_native_host(host, host), 1);
    EXPECT_TRUE(host.reserved.empty());
    EXPECT_EQ(host.answers(), std::vector<std::string>{answer(false, kMessageTruncatedText)});
}

TEST(NativeHost, AnAnswerThatCannotBeWrittenEndsTheRun) {
    ScriptedHost host(frame_native_message("{}") + frame_native_message("{}"));
    host.writable = false;
    EXPECT_EQ(run_native_host(host, host), 1);
    EXPECT_EQ(host.reserved.size(), 1u);
}

TEST(HostManifests, EachNamesTheHostBesideItAndOnlyTheExtension) {
    const std::string chrome = chrome_host_manifest();
    EXPECT_NE(chrome.find("\"name\": \"marlow.vellumhost\""), std::string::npos);
    EXPECT_NE(chrome.find("\"path\": \"vellumhost.exe\""), std::string::npos);
    EXPECT_NE(chrome.find("\"allowed_origins\": [\"chrome-extension://eelnffiffmknaahhhgdckbdfmkbcdddo/\"]"),
              std::string::npos);
    const std::string firefox = firefox_host_manifest();
    EXPECT_NE(firefox.find("\"allowed_extensions\": [\"reserve@vellum.invalid\"]"), std::string::npos);
    EXPECT_EQ(firefox.find("allowed_origins"), std::string::npos);
    // Both are JSON objects the host's own reader takes.
    EXPECT_EQ(parse_reservation_message(chrome).error, MessageError::kNone);
    EXPECT_EQ(parse_reservation_message(firefox).error, MessageError::kNone);
}

}  // namespace
}  // namespace vellum
