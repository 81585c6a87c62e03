// What the browser may send vellumhost.exe: the bytes once as one message
// text, and once as a stream of frames through the host's whole run. A
// message taken has well-formed texts that survive being written out and
// read again; every frame gets exactly one answer, itself a JSON object.
#include <algorithm>
#include <string>

#include "fuzz/fuzz_check.h"
#include "vellumhost/host_session.h"

namespace vellum::fuzz {
namespace {

bool is_utf8_without_zero(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        if (lead == 0) return false;
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (at + length > text.size()) return false;
        for (std::size_t i = 1; i < length; ++i)
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
        at += length;
    }
    return true;
}

void append_field(std::string* json, const char* name, const std::optional<std::string>& value) {
    if (!value) return;
    // build_native_answer's escaping, borrowed for a field of our own.
    const std::string escaped = build_native_answer(true, *value);
    const std::string prefix = "{\"ok\":true,\"message\":";
    json->append(json->size() > 1 ? "," : "").append("\"").append(name).append("\":");
    json->append(escaped.substr(prefix.size(), escaped.size() - prefix.size() - 1));
}

class FuzzHost : public NativeInput, public HostPlatform {
public:
    explicit FuzzHost(const std::string& bytes) : bytes_(bytes) {}
    std::size_t read(char* buffer, std::size_t size) override {
        // Uneven pieces, as a pipe hands them out.
        const std::size_t count = std::min({size, bytes_.size() - position_, std::size_t{1} + position_ % 13});
        bytes_.copy(buffer, count, position_);
        position_ += count;
        return count;
    }
    std::optional<ReservationFailure> reserve(const ReservationMessage&) override {
        ++reserved;
        return reserved % 2 ? std::nullopt : std::optional(ReservationFailure::kCannotConnect);
    }
    std::string to_utf8(std::string_view ansi) override { return std::string(ansi); }
    bool write(std::string_view bytes) override {
        output.append(bytes);
        return true;
    }
    int reserved = 0;
    std::string output;

private:
    const std::string& bytes_;
    std::size_t position_ = 0;
};

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);

    const ParsedMessage parsed = parse_reservation_message(input);
    if (parsed.error == MessageError::kNone) {
        const ReservationMessage& message = parsed.message;
        for (const std::optional<std::string>* field : {&message.url, &message.referer, &message.user_agent})
            require(!*field || is_utf8_without_zero(**field), "a taken text is UTF-8 without zeros");
        require(!message.url || message.url->rfind("http://", 0) == 0 || message.url->rfind("https://", 0) == 0,
                "a taken URL is http or https");
        std::string again = "{";
        append_field(&again, "url", message.url);
        append_field(&again, "referer", message.referer);
        append_field(&again, "userAgent", message.user_agent);
        again.append("}");
        const ParsedMessage reread = parse_reservation_message(again);
        require(reread.error == MessageError::kNone && reread.message.url == message.url &&
                    reread.message.referer == message.referer && reread.message.user_agent == message.user_agent,
                "a taken message written out reads back the same");
    } else {
        require(!message_error_text(parsed).empty(), "every fault has its text");
    }

    FuzzHost host(input);
    const int code = run_native_host(host, host);
    require(code == 0 || code == 1, "the run ends with 0 or 1");
    std::size_t answers = 0;
    for (std::size_t at = 0; at < host.output.size(); ++answers) {
        require(at + 4 <= host.output.size(), "answers are whole frames");
        const std::size_t length = static_cast<unsigned char>(host.output[at]) |
                                   static_cast<std::size_t>(static_cast<unsigned char>(host.output[at + 1])) << 8;
        require(at + 4 + length <= host.output.size(), "an answer's length fits what was written");
        require(parse_reservation_message(host.output.substr(at + 4, length)).error == MessageError::kNone,
                "an answer is a JSON object");
        at += 4 + length;
    }
    require(answers >= static_cast<std::size_t>(host.reserved), "every reservation is answered");
    return 0;
}
