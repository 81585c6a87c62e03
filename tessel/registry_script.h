// The registration script of tessel.dll, read from its REGISTRY resource.
//
// The script names keys and values as nested blocks under a root:
//
//   HKCR
//   {
//       NoRemove CLSID                 <- never deleted by unregistration
//       {
//           ForceRemove {...} = s 'Name'   <- deleted whole before it is written
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//               Programmable               <- a key without a default value
//           }
//       }
//   }
//
// "= s '...'" gives a key's default text, "val Name = s '...'" a named text
// value, "d" instead of "s" a DWORD (decimal or 0x hexadecimal). Texts are in
// single quotes, a quote doubled inside them; "%NAME%" in a text is replaced
// by the variable NAME and "%%" by a percent sign. Keywords are case-blind.
// Braces are separated by white space: "{...}" without it is a name.
//
// parse_registry_script is all-or-nothing: any syntax error, unknown
// variable, bad number or more than kMaxScriptDepth nested blocks (the
// root's included) gives none. Pure;
// any thread; the caller owns the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellum {

struct ScriptValue {
    enum class Kind { Text, Number };
    std::string name;  // empty: the key's default value
    Kind kind = Kind::Text;
    std::string text;
    std::uint32_t number = 0;
};

struct ScriptKey {
    std::string name;
    bool no_remove = false;
    bool force_remove = false;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> subkeys;
};

struct ScriptRoot {
    std::string name;  // as written: "HKCR", "HKCU", ...
    std::vector<ScriptKey> keys;
};

using ScriptVariables = std::vector<std::pair<std::string, std::string>>;

inline constexpr std::size_t kMaxScriptDepth = 32;

std::optional<std::vector<ScriptRoot>> parse_registry_script(std::string_view script,
                                                             const ScriptVariables& variables);

}  // namespace vellum
