// Link values from pages through decode_html_entities.
#include <string>

#include "fuzz/fuzz_check.h"
#include "store/text_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);
    const std::string text = input.substr(0, input.find('\0'));

    std::string decoded = input;
    decode_html_entities(decoded);
    require(decoded.size() <= text.size(), "decoding never grows the text");
    require(decoded.find('\0') == std::string::npos, "a decoded text ends at its first zero");
    if (text.find('&') == std::string::npos) require(decoded == text, "a text without entities is left as it is");
    return 0;
}
