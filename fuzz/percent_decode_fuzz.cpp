// URL parts and companion names through percent_decode, with and without
// plus_as_space (the first byte chooses).
#include <string>

#include "fuzz/fuzz_check.h"
#include "store/text_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    if (size == 0) return 0;
    const bool plus_as_space = data[0] & 1;
    const std::string input = input_text(data + 1, size - 1);
    const std::string text = input.substr(0, input.find('\0'));

    std::string decoded = input;
    percent_decode(decoded, plus_as_space);
    require(decoded.size() <= text.size(), "decoding never grows the text");
    require(decoded.find('\0') == std::string::npos, "a decoded text ends at its first zero");
    if (text.find('%') == std::string::npos && (!plus_as_space || text.find('+') == std::string::npos)) {
        require(decoded == text, "a text without escapes is left as it is");
    }
    return 0;
}
