// tessel_client: stands in for the browser that loads tessel.dll, for the
// end-to-end tests. Like the browser it starts the socket library and COM,
// then reaches the component only by its ProgID and late binding.
//
//   call [--progid ID] [--no-sockets] URL REFERER USER-AGENT COOKIE
//       create the class, look up ReserveAutoGet by name and invoke it with
//       the four texts ("<null>" passes a null text); prints
//       "dispid=<n> result=<hex HRESULT>"; exit code 0 when the call
//       returned S_OK. --no-sockets leaves the socket library unstarted.
//   script FILE
//       run the JScript file (UTF-8) in the script control, as the browser
//       runs a context-menu page; prints "done" or the script's error.
#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kNull[] = L"<null>";

// A BSTR owned for the length of one call.
class Text {
public:
    explicit Text(const std::wstring& text) : value_(text == kNull ? nullptr : SysAllocString(text.c_str())) {}
    ~Text() { SysFreeString(value_); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    BSTR get() const { return value_; }

private:
    BSTR value_;
};

HRESULT dispatch_id(IDispatch* object, const wchar_t* name, DISPID* id) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

// Invokes `name` with the arguments in their natural order.
HRESULT invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> arguments,
               VARIANT* result = nullptr, EXCEPINFO* exception = nullptr, DISPID* id_out = nullptr) {
    DISPID id = 0;
    HRESULT hr = dispatch_id(object, name, &id);
    if (id_out) *id_out = id;
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS parameters{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    DISPID put = DISPID_PROPERTYPUT;
    if (flags == DISPATCH_PROPERTYPUT) {
        parameters.rgdispidNamedArgs = &put;
        parameters.cNamedArgs = 1;
    }
    UINT argument_error = 0;
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result, exception, &argument_error);
}

VARIANT text_argument(BSTR text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text;
    return v;
}

IDispatch* create(const std::wstring& progid) {
    CLSID class_id{};
    HRESULT hr = CLSIDFromProgID(progid.c_str(), &class_id);
    if (FAILED(hr)) {
        std::printf("progid-unknown result=%08lx\n", static_cast<unsigned long>(hr));
        return nullptr;
    }
    IDispatch* object = nullptr;
    hr = CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) {
        std::printf("create-failed result=%08lx\n", static_cast<unsigned long>(hr));
        return nullptr;
    }
    return object;
}

int call(std::vector<std::wstring> words) {
    std::wstring progid = L"Ashgrove.TesselApi.1";
    bool sockets = true;
    while (!words.empty() && words.front().rfind(L"--", 0) == 0) {
        if (words.front() == L"--no-sockets") {
            sockets = false;
        } else if (words.front() == L"--progid" && words.size() > 1) {
            words.erase(words.begin());
            progid = words.front();
        }
        words.erase(words.begin());
    }
    if (words.size() != 4) return 2;
    WSADATA data;
    if (sockets && WSAStartup(MAKEWORD(1, 1), &data) != 0) return 3;
    IDispatch* object = create(progid);
    if (!object) return 1;
    Text url(words[0]), referer(words[1]), user_agent(words[2]), cookie(words[3]);
    DISPID id = 0;
    const HRESULT hr = invoke(object, L"ReserveAutoGet", DISPATCH_METHOD,
                              {text_argument(url.get()), text_argument(referer.get()),
                               text_argument(user_agent.get()), text_argument(cookie.get())},
                              nullptr, nullptr, &id);
    std::printf("dispid=%ld result=%08lx\n", static_cast<long>(id), static_cast<unsigned long>(hr));
    object->Release();
    if (sockets) WSACleanup();
    return hr == S_OK ? 0 : 1;
}

int script(const std::wstring& file) {
    std::ifstream in(file.c_str(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && bytes.empty()) return 2;
    std::wstring code(bytes.size(), L'\0');
    code.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                             code.data(), static_cast<int>(code.size()))));
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 3;
    IDispatch* control = create(L"MSScriptControl.ScriptControl");
    if (!control) return 1;
    Text language(L"JScript"), text(code);
    HRESULT hr = invoke(control, L"Language", DISPATCH_PROPERTYPUT, {text_argument(language.get())});
    EXCEPINFO exception{};
    if (SUCCEEDED(hr)) hr = invoke(control, L"AddCode", DISPATCH_METHOD, {text_argument(text.get())}, nullptr, &exception);
    if (SUCCEEDED(hr)) {
        std::printf("done\n");
    } else {
        const std::wstring description = exception.bstrDescription ? exception.bstrDescription : L"";
        std::printf("error result=%08lx %ls\n", static_cast<unsigned long>(hr), description.c_str());
    }
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    control->Release();
    WSACleanup();
    return SUCCEEDED(hr) ? 0 : 1;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> words(arguments + 1, arguments + count);
    LocalFree(arguments);
    if (FAILED(CoInitialize(nullptr))) return 3;
    int result = 2;
    if (!words.empty() && words[0] == L"call") result = call({words.begin() + 1, words.end()});
    if (words.size() == 2 && words[0] == L"script") result = script(words[1]);
    if (result == 2) std::fprintf(stderr, "usage: tessel_client call|script ...\n");
    CoUninitialize();
    return result;
}
