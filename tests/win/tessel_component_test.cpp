// tessel.dll as the browser's COM runtime meets it: the real file beside this
// test, loaded and asked for its class object, its type library, its version
// block and its exports; and the component's message boxes through the
// prompt seam.
#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/prompt.h"
#include "base/registry_win.h"
#include "tessel/identity_win.h"
#include "tessel/reserve_win.h"

namespace vellum {
namespace {

std::string beside_this_test(const char* name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1) + name;
}

std::wstring wide(const std::string& text) {
    std::wstring result(text.size(), L'\0');
    result.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                               result.data(), static_cast<int>(result.size()))));
    return result;
}

using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

class TesselDll : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module_ = LoadLibraryA(beside_this_test(kComponentFileName).c_str()); }
    static void TearDownTestSuite() { FreeLibrary(module_); }

    void SetUp() override { ASSERT_NE(module_, nullptr); }

    template <typename Function>
    static Function entry(const char* name) {
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
    }

    static IClassFactory* factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(entry<GetClassObject>("DllGetClassObject")(kTesselApiClassId, IID_IClassFactory,
                                                             reinterpret_cast<void**>(&factory)),
                  S_OK);
        return factory;
    }

    static IDispatch* create() {
        IClassFactory* maker = factory();
        IDispatch* object = nullptr;
        EXPECT_EQ(maker->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)), S_OK);
        maker->Release();
        return object;
    }

    static HMODULE module_;
};

HMODULE TesselDll::module_ = nullptr;

TEST_F(TesselDll, ExportsTheFourEntryPointsAndNothingElse) {
    const auto* base = reinterpret_cast<const BYTE*>(module_);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> exported;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) exported.emplace_back(reinterpret_cast<const char*>(base + names[i]));
    EXPECT_EQ(exported, (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                                  "DllUnregisterServer"}));
    EXPECT_EQ(exports->NumberOfFunctions, 4u);
}

TEST_F(TesselDll, VersionBlock) {
    const std::string path = beside_this_test(kComponentFileName);
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size));
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(translation[0], 0x0411);  // Japanese
    EXPECT_EQ(translation[1], 1200);    // Unicode

    const std::pair<const char*, const char*> strings[] = {
        {"FileDescription", "tessel Module"}, {"ProductName", "tessel Module"},
        {"InternalName", "tessel"},           {"OriginalFilename", "tessel.DLL"},
        {"FileVersion", "1, 0, 0, 1"},        {"ProductVersion", "1, 0, 0, 1"},
        {"OLESelfRegister", ""},
    };
    for (const auto& [name, expected] : strings) {
        char* text = nullptr;
        const std::string query = std::string("\\StringFileInfo\\041104b0\\") + name;
        ASSERT_TRUE(VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &size)) << name;
        EXPECT_STREQ(text, expected) << name;
    }
}

TEST_F(TesselDll, TypeLibraryDeclaresTheClassAndItsDualInterface) {
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLibEx(wide(beside_this_test(kComponentFileName)).c_str(), REGKIND_NONE, &library), S_OK);
    TLIBATTR* library_attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&library_attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(library_attributes->guid, kTesselLibraryId));
    EXPECT_EQ(library_attributes->wMajorVerNum, kTesselLibraryMajor);
    EXPECT_EQ(library_attributes->wMinorVerNum, kTesselLibraryMinor);
    library->ReleaseTLibAttr(library_attributes);
    BSTR name = nullptr, text = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &text, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"TESSELLib");
    EXPECT_STREQ(text, L"tessel 1.0 Type Library");
    SysFreeString(name);
    SysFreeString(text);

    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(library->GetTypeInfoOfGuid(kTesselApiClassId, &coclass), S_OK);
    ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, &name, &text, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"TesselApi");
    EXPECT_STREQ(text, L"TesselApi Class");
    SysFreeString(name);
    SysFreeString(text);
    coclass->Release();

    ITypeInfo* dispatch = nullptr;
    ASSERT_EQ(library->GetTypeInfoOfGuid(kTesselApiInterfaceId, &dispatch), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    dispatch->ReleaseTypeAttr(attributes);
    ASSERT_EQ(dispatch->GetDocumentation(MEMBERID_NIL, &name, &text, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"ITesselApi");
    EXPECT_STREQ(text, L"ITesselApi Interface");
    SysFreeString(name);
    SysFreeString(text);

    // The vtable side: derived from IDispatch, ReserveAutoGet right after its
    // seven methods, four BSTR arguments, an HRESULT.
    HREFTYPE reference = 0;
    ITypeInfo* vtable = nullptr;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &reference), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(reference, &vtable), S_OK);
    ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &reference), S_OK);
    ITypeInfo* base = nullptr;
    ASSERT_EQ(vtable->GetRefTypeInfo(reference, &base), S_OK);
    ASSERT_EQ(base->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"IDispatch");
    SysFreeString(name);
    base->Release();

    ASSERT_EQ(vtable->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attributes->cFuncs, 1);
    vtable->ReleaseTypeAttr(attributes);
    FUNCDESC* function = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(0, &function), S_OK);
    EXPECT_EQ(function->memid, kReserveAutoGetDispId);
    EXPECT_EQ(function->oVft, static_cast<SHORT>(7 * sizeof(void*)));
    EXPECT_EQ(function->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(function->cParams, 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(function->lprgelemdescParam[i].tdesc.vt, VT_BSTR);
    BSTR names[5] = {};
    UINT count = 0;
    ASSERT_EQ(vtable->GetNames(function->memid, names, 5, &count), S_OK);
    ASSERT_EQ(count, 5u);
    const wchar_t* expected[] = {L"ReserveAutoGet", L"url", L"referer", L"userAgent", L"cookie"};
    for (UINT i = 0; i < count; ++i) {
        EXPECT_STREQ(names[i], expected[i]);
        SysFreeString(names[i]);
    }
    vtable->ReleaseFuncDesc(function);
    vtable->Release();
    dispatch->Release();
    library->Release();
}

TEST_F(TesselDll, ClassObjectOnlyForItsClassAndWithoutAggregation) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(entry<GetClassObject>("DllGetClassObject")(IID_IDispatch, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    IClassFactory* maker = factory();
    IUnknown* outer = maker;  // any object will do as a would-be aggregator
    EXPECT_EQ(maker->CreateInstance(outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(maker->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    maker->Release();
}

TEST_F(TesselDll, ObjectAnswersForIUnknownIDispatchAndITesselApiOnly) {
    IDispatch* object = create();
    ASSERT_NE(object, nullptr);
    const IID answered[] = {IID_IUnknown, IID_IDispatch, kTesselApiInterfaceId};
    for (const IID& iid : answered) {
        IUnknown* other = nullptr;
        EXPECT_EQ(object->QueryInterface(iid, reinterpret_cast<void**>(&other)), S_OK);
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(static_cast<void*>(other), static_cast<void*>(object));
        other->Release();
    }
    const IID refused[] = {IID_IClassFactory, IID_IPersist, IID_IConnectionPointContainer, IID_IMarshal, IID_ITypeInfo};
    for (const IID& iid : refused) {
        void* other = reinterpret_cast<void*>(1);
        EXPECT_EQ(object->QueryInterface(iid, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
    }
    object->Release();
}

TEST_F(TesselDll, UnloadableOnlyWithoutObjectsAndLocks) {
    const auto can_unload = entry<CanUnloadNow>("DllCanUnloadNow");
    EXPECT_EQ(can_unload(), S_OK);
    IDispatch* object = create();
    EXPECT_EQ(can_unload(), S_FALSE);
    object->Release();
    EXPECT_EQ(can_unload(), S_OK);

    IClassFactory* maker = factory();
    EXPECT_EQ(maker->LockServer(TRUE), S_OK);
    EXPECT_EQ(can_unload(), S_FALSE);
    EXPECT_EQ(maker->LockServer(FALSE), S_OK);
    EXPECT_EQ(can_unload(), S_OK);
    maker->Release();
}

TEST_F(TesselDll, DispatchIsServedFromTheTypeLibrary) {
    IDispatch* object = create();
    ASSERT_NE(object, nullptr);
    UINT count = 0;
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(object->GetTypeInfo(1, LOCALE_USER_DEFAULT, &info), DISP_E_BADINDEX);
    ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, kTesselApiInterfaceId));
    info->ReleaseTypeAttr(attributes);
    info->Release();

    OLECHAR method[] = L"ReserveAutoGet";
    OLECHAR unknown[] = L"Reserve";
    LPOLESTR names[] = {method};
    DISPID id = 0;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, kReserveAutoGetDispId);
    names[0] = unknown;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(object->GetIDsOfNames(IID_IDispatch, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNINTERFACE);

    // A call with too few arguments never reaches the method.
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    UINT argument_error = 0;
    EXPECT_EQ(object->Invoke(kReserveAutoGetDispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                             nullptr, &argument_error),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(object->Invoke(99, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr,
                             &argument_error),
              DISP_E_MEMBERNOTFOUND);
    object->Release();
}

// The component's boxes: no owner, its own caption, the warning icon (their
// texts for every failure are checked through a real COM client end to end).
class ReserveMessages : public ::testing::Test, public Prompter {
protected:
    void SetUp() override {
        previous_ = set_prompter(this);
        withdraw_address();
    }
    void TearDown() override {
        withdraw_address();
        set_prompter(previous_);
    }
    static void withdraw_address() {
        RegKey key = open_or_create_key(HKEY_CURRENT_USER, kProgramKeyPath);
        RegDeleteValueA(key.get(), "ServerAddress");
        RegDeleteValueA(key.get(), "ServerPort");
    }

    int show(HWND owner, const std::string& text, const std::string& caption, UINT flags) override {
        EXPECT_EQ(owner, nullptr);
        EXPECT_EQ(caption, "Vellum コントロール");
        EXPECT_EQ(flags, static_cast<UINT>(MB_OK | MB_ICONWARNING));
        shown.push_back(text);
        return IDOK;
    }

    std::vector<std::string> shown;
    Prompter* previous_ = nullptr;
};

TEST_F(ReserveMessages, AddressMissingMeansNotRunningAndOnlyAddressAndPortCount) {
    reserve_auto_get(L"http://example.com/", nullptr, L"UA");
    RegKey key = open_or_create_key(HKEY_CURRENT_USER, kProgramKeyPath);
    write_dword(key.get(), "ServerAddress", 0x7F000001);
    reserve_auto_get(L"http://example.com/", nullptr, L"UA");
    // A port without its 4 bytes is no port.
    RegSetValueExA(key.get(), "ServerPort", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\x50"), 1);
    reserve_auto_get(L"http://example.com/", nullptr, L"UA");
    EXPECT_EQ(shown, std::vector<std::string>(3, "Vellum が起動されていません"));
}

}  // namespace
}  // namespace vellum
