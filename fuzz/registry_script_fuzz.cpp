// Registration scripts through parse_registry_script: whatever it accepts is
// a tree of named keys no deeper than its bound, and parsing is all or
// nothing whatever the variables hold.
#include <string>

#include "fuzz/fuzz_check.h"
#include "tessel/registry_script.h"

namespace vellum::fuzz {
namespace {

void check_keys(const std::vector<ScriptKey>& keys, std::size_t depth) {
    require(depth <= kMaxScriptDepth, "no more nested blocks than the bound");
    for (const ScriptKey& key : keys) {
        require(!key.name.empty(), "every key has a name");
        for (const ScriptValue& value : key.values) {
            require(value.kind == ScriptValue::Kind::Text || value.text.empty(), "a number carries no text");
        }
        check_keys(key.subkeys, depth + 1);
    }
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);
    const auto plain = parse_registry_script(input, {{"MODULE", "C:\\tessel.dll"}});
    if (plain) {
        for (const ScriptRoot& root : *plain) check_keys(root.keys, 1);
    }
    // A path holding the script's own quoting and variable syntax changes
    // texts only, never whether the script parses.
    const auto odd = parse_registry_script(input, {{"MODULE", "C:\\it's %MODULE% '' {}\\x.dll"}});
    require(plain.has_value() == odd.has_value(), "the variable's value never decides the parse");
    return 0;
}
