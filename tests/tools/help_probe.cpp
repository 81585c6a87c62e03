// help_probe: opens the manual the way vellum.exe's マニュアル command does and
// reports what the HTML Help viewer shows, for the help viewer test.
//
//   help_probe [CHM]
//
// Opens "<folder of this program>\Velm131.chm>Velm131Help" (or CHM followed
// by ">Velm131Help") with HtmlHelpA and HH_DISPLAY_TOPIC, no owner window.
// HtmlHelpA lives in the HTML Help control, loaded here at run time as the
// program does, so nothing links against it. Once the window has had time to
// paint, prints one line each, UTF-8:
//   window <class name>
//   title <window text>
//   visible <0|1> <left> <top> <right> <bottom>
//   tab <text>            per tab of the navigation pane
//   toc <depth> <text>    per entry of the contents tree, in display order
//   ready
// then keeps the window alive (pumping messages) until a line or the end of
// its standard input arrives, or 120 seconds pass, so that the caller can
// take a screenshot; closes every help window and exits. Exit codes: 0 shown,
// 2 the HTML Help control can't be loaded, 3 HtmlHelpA gave no window.
#include <windows.h>
#include <commctrl.h>
#include <htmlhelp.h>

#include <cstdio>
#include <string>

namespace {

using HtmlHelpFunction = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

std::string utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// Lines go straight to the handle: the caller reads a pipe and must see each
// line as soon as it is written.
void say(const std::string& line) {
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

std::wstring window_text(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

void pump_for(DWORD milliseconds, HANDLE stop = nullptr) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds) return;
        DWORD count = stop ? 1 : 0;
        DWORD woke = MsgWaitForMultipleObjects(count, &stop, FALSE, milliseconds - spent, QS_ALLINPUT);
        if (stop && woke == WAIT_OBJECT_0) return;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void report_tree(HWND tree, HTREEITEM item, int depth) {
    for (; item; item = TreeView_GetNextSibling(tree, item)) {
        wchar_t text[512] = {};
        TVITEMW data = {};
        data.mask = TVIF_TEXT;
        data.hItem = item;
        data.pszText = text;
        data.cchTextMax = 512;
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
        say("toc " + std::to_string(depth) + " " + utf8(text));
        report_tree(tree, TreeView_GetChild(tree, item), depth + 1);
    }
}

BOOL CALLBACK report_child(HWND child, LPARAM) {
    wchar_t class_name[64] = {};
    GetClassNameW(child, class_name, 64);
    if (lstrcmpiW(class_name, WC_TABCONTROLW) == 0) {
        int count = TabCtrl_GetItemCount(child);
        for (int i = 0; i < count; ++i) {
            wchar_t text[128] = {};
            TCITEMW item = {};
            item.mask = TCIF_TEXT;
            item.pszText = text;
            item.cchTextMax = 128;
            SendMessageW(child, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
            say("tab " + utf8(text));
        }
    } else if (lstrcmpiW(class_name, WC_TREEVIEWW) == 0) {
        report_tree(child, TreeView_GetRoot(child), 0);
    }
    return TRUE;
}

DWORD WINAPI wait_for_input(void* event) {
    char byte;
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read == 1 && byte != '\n') {
    }
    SetEvent(event);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string chm;
    if (argc > 1) {
        chm = argv[1];
    } else {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        chm = path;
        chm.erase(chm.find_last_of('\\') + 1);  // the build's paths are ASCII
        chm += "Velm131.chm";
    }
    std::string topic = chm + ">Velm131Help";

    HMODULE control = LoadLibraryA("hhctrl.ocx");
    auto html_help = control ? reinterpret_cast<HtmlHelpFunction>(
                                   reinterpret_cast<void*>(GetProcAddress(control, "HtmlHelpA")))
                             : nullptr;
    if (!html_help) {
        say("error no HtmlHelpA in hhctrl.ocx");
        return 2;
    }
    HWND help = html_help(nullptr, topic.c_str(), HH_DISPLAY_TOPIC, 0);
    if (!help) {
        say("error HtmlHelpA gave no window for " + topic);
        return 3;
    }
    pump_for(3000);

    wchar_t class_name[64] = {};
    GetClassNameW(help, class_name, 64);
    RECT rect = {};
    GetWindowRect(help, &rect);
    say("window " + utf8(class_name));
    say("title " + utf8(window_text(help)));
    say("visible " + std::to_string(IsWindowVisible(help) ? 1 : 0) + " " + std::to_string(rect.left) + " " +
        std::to_string(rect.top) + " " + std::to_string(rect.right) + " " + std::to_string(rect.bottom));
    EnumChildWindows(help, report_child, 0);
    say("ready");

    HANDLE input_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE reader = CreateThread(nullptr, 0, wait_for_input, input_done, 0, nullptr);
    pump_for(120000, input_done);
    html_help(nullptr, nullptr, HH_CLOSE_ALL, 0);
    pump_for(500);
    // The reader may still block in ReadFile; the process ends around it.
    if (reader) CloseHandle(reader);
    CloseHandle(input_done);
    return 0;
}
