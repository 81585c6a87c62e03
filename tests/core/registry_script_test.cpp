#include "tessel/registry_script.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

const ScriptVariables kModule = {{"MODULE", "C:\\Program Files\\Vellum\\tessel.dll"}};

std::vector<ScriptKey> parse_keys(std::string_view script, const ScriptVariables& variables = kModule) {
    auto roots = parse_registry_script(script, variables);
    EXPECT_TRUE(roots);
    if (!roots || roots->size() != 1) return {};
    return (*roots)[0].keys;
}

TEST(RegistryScript, NestedKeysWithDefaultAndNamedValues) {
    const auto keys = parse_keys(R"(
        HKCR
        {
            NoRemove CLSID
            {
                ForceRemove {B728B937-51B7-4EA4-93C2-879CDFF8635E} = s 'TesselApi Class'
                {
                    Programmable
                    InprocServer32 = s '%MODULE%'
                    {
                        val ThreadingModel = s 'Apartment'
                    }
                }
            }
        })");
    ASSERT_EQ(keys.size(), 1u);
    const ScriptKey& classes = keys[0];
    EXPECT_EQ(classes.name, "CLSID");
    EXPECT_TRUE(classes.no_remove);
    EXPECT_FALSE(classes.force_remove);
    EXPECT_TRUE(classes.values.empty());
    ASSERT_EQ(classes.subkeys.size(), 1u);

    const ScriptKey& class_key = classes.subkeys[0];
    EXPECT_EQ(class_key.name, "{B728B937-51B7-4EA4-93C2-879CDFF8635E}");
    EXPECT_TRUE(class_key.force_remove);
    ASSERT_EQ(class_key.values.size(), 1u);
    EXPECT_EQ(class_key.values[0].name, "");
    EXPECT_EQ(class_key.values[0].text, "TesselApi Class");
    ASSERT_EQ(class_key.subkeys.size(), 2u);

    EXPECT_EQ(class_key.subkeys[0].name, "Programmable");
    EXPECT_TRUE(class_key.subkeys[0].values.empty());
    EXPECT_TRUE(class_key.subkeys[0].subkeys.empty());

    const ScriptKey& server = class_key.subkeys[1];
    ASSERT_EQ(server.values.size(), 2u);
    EXPECT_EQ(server.values[0].text, "C:\\Program Files\\Vellum\\tessel.dll");
    EXPECT_EQ(server.values[1].name, "ThreadingModel");
    EXPECT_EQ(server.values[1].kind, ScriptValue::Kind::Text);
    EXPECT_EQ(server.values[1].text, "Apartment");
    EXPECT_TRUE(server.subkeys.empty());
}

TEST(RegistryScript, NumbersQuotesAndPercentSigns) {
    const auto keys = parse_keys(R"(HKCU {
        Key = s 'it''s 100%% %module%'
        {
            val Decimal = d '4294967295'
            val Hex = d 0x7F000001
            'name with spaces'
        }
    })");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].values[0].text, "it's 100% C:\\Program Files\\Vellum\\tessel.dll");
    ASSERT_EQ(keys[0].values.size(), 3u);
    EXPECT_EQ(keys[0].values[1].kind, ScriptValue::Kind::Number);
    EXPECT_EQ(keys[0].values[1].number, 4294967295u);
    EXPECT_EQ(keys[0].values[2].number, 0x7F000001u);
    ASSERT_EQ(keys[0].subkeys.size(), 1u);
    EXPECT_EQ(keys[0].subkeys[0].name, "name with spaces");
}

TEST(RegistryScript, ReplacementsAreNotScannedAgain) {
    const auto keys = parse_keys("HKCR { K = s '%MODULE%' }", {{"MODULE", "C:\\a%MODULE%'b\\x.dll"}});
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].values[0].text, "C:\\a%MODULE%'b\\x.dll");
}

TEST(RegistryScript, SeveralRootsAndAnEmptyScript) {
    auto roots = parse_registry_script("HKCR { A } HKCU { B C }", {});
    ASSERT_TRUE(roots);
    ASSERT_EQ(roots->size(), 2u);
    EXPECT_EQ((*roots)[1].name, "HKCU");
    EXPECT_EQ((*roots)[1].keys.size(), 2u);
    auto empty = parse_registry_script(" \r\n", {});
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(RegistryScript, MalformedScriptsGiveNone) {
    const char* bad[] = {
        "HKCR",                                // no block
        "HKCR {",                              // unterminated block
        "HKCR { A = s 'open }",                // unterminated text
        "HKCR { A = s '%UNKNOWN%' }",          // unknown variable
        "HKCR { A = s '%MODULE }",             // unterminated variable
        "HKCR { A = x 'text' }",               // unknown type
        "HKCR { A = s bare }",                 // text not quoted
        "HKCR { A = d '12z' }",                // bad number
        "HKCR { A = d 4294967296 }",           // number too large
        "HKCR { A = d 0x }",                   // hexadecimal without digits
        "HKCR { val A = s 'x' }",              // value outside a key
        "HKCR { val }",                        // the keyword as a key name
        "HKCR { A { val = s 'x' } }",          // value without a name
        "HKCR { NoRemove }",                   // flag without a key
        "HKCR { '' }",                         // empty key name
        "HKCR { A } }",                        // stray brace
        "{ A }",                               // block without a root
        "HKCR { A = }",                        // value missing
    };
    for (const char* script : bad) EXPECT_FALSE(parse_registry_script(script, kModule)) << script;
}

TEST(RegistryScript, NestingIsBounded) {
    std::string deep = "HKCR";
    std::string closing;
    for (std::size_t depth = 1; depth < kMaxScriptDepth; ++depth) {
        deep += " { K";
        closing += " }";
    }
    EXPECT_TRUE(parse_registry_script(deep + " { }" + closing, {}));
    EXPECT_FALSE(parse_registry_script(deep + " { K { } }" + closing, {}));
}

}  // namespace
}  // namespace vellum
