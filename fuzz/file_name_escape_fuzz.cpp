// URL segments and content types through escape_for_file_name. Whatever the
// bytes, the result must be usable inside one Windows file-name element, read
// the way Windows reads it (a lead byte takes the next byte as its trail), and
// percent_decode must give the text back.
#include <string>
#include <string_view>

#include "base/lead_byte.h"
#include "fuzz/fuzz_check.h"
#include "store/text_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);
    const std::string text = input.substr(0, input.find('\0'));

    std::string escaped = input;
    escape_for_file_name(escaped);
    require(escaped.size() <= 3 * text.size(), "escaping at most triples the text");
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const auto byte = static_cast<unsigned char>(escaped[i]);
        if (is_lead_byte(byte)) {
            // Windows takes the next byte as the trail, whatever it is; one
            // below 0x40 (or none) would hide a byte and change the name.
            require(i + 1 < escaped.size() && static_cast<unsigned char>(escaped[i + 1]) >= 0x40,
                    "every lead byte keeps a trail byte");
            ++i;
            continue;
        }
        require(byte >= 0x20, "no control byte in a file name");
        require(std::string_view("?\"/\\<>*|:").find(static_cast<char>(byte)) == std::string_view::npos,
                "no reserved character in a file name");
    }
    std::string decoded = escaped;
    percent_decode(decoded, false);
    require(decoded == text, "percent-decoding undoes the escaping");
    return 0;
}
