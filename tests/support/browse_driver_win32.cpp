// A person at the folder dialog of another program, for tests under wine:
//
//   browse_driver acp
//       prints the system's ANSI code page
//   browse_driver choose CAPTION BUTTON_ID BOX_ID TITLE FOLDER
//       waits for the top-level window CAPTION, clicks its unit BUTTON_ID
//       (a runtime-painted one: the left button pressed and released in it),
//       waits for the folder dialog of that program, checks that one of its
//       texts is TITLE, selects FOLDER in it (BFFM_SETSELECTIONW) and
//       presses OK, then prints what the unit BOX_ID shows and closes the
//       window
//   browse_driver close-at CAPTION BOX_ID FOLDER rows LIST_ID
//   browse_driver close-at CAPTION BOX_ID FOLDER file PATH
//       waits for the top-level window CAPTION whose unit BOX_ID shows
//       FOLDER (so that no other program's window is taken), then for a row
//       in its list box LIST_ID or for the file PATH, and closes the window
//       as its user would (WM_CLOSE); the program answers the questions
//       only when it serves its messages, as a long handler does now and
//       then
//   browse_driver keys CAPTION PROGRAM TABS BUTTON_ID MODAL
//       waits for the top-level window CAPTION of the program PROGRAM (its
//       executable's path) and prints the identifier of
//       the control with the focus, presses Tab TABS times (the key sent to
//       the control with the focus) printing it after each, then clicks the
//       unit BUTTON_ID (runtime-painted), waits for the window MODAL and
//       prints whether each window has a minimise button and the focus in
//       MODAL; closes MODAL and prints the focus in CAPTION again, then
//       closes CAPTION
//
// Texts are given as hex of their UTF-8 bytes, so that no code page comes
// between the test and the helper. Everything seen is printed (UTF-8); the
// exit code is 0 when the title was found and the box shows FOLDER.
#include <windows.h>
// windows.h first: the shell's header builds on it.
#include <shlobj.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring from_hex_utf8(const char* hex) {
    std::string bytes;
    for (size_t i = 0; hex[i] != 0 && hex[i + 1] != 0; i += 2)
        bytes += static_cast<char>(std::strtoul(std::string(hex + i, 2).c_str(), nullptr, 16));
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), size);
    return out;
}

std::string utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// Through WM_GETTEXT, which the system carries between processes.
std::wstring text_of(HWND hwnd) {
    wchar_t buffer[1024] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK, 5000,
                        nullptr);
    return buffer;
}

std::wstring class_of(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

struct Search {
    DWORD process = 0;
    const std::wstring* caption = nullptr;
    HWND found = nullptr;
};

BOOL CALLBACK find_tree(HWND hwnd, LPARAM data) {
    if (class_of(hwnd) != L"SysTreeView32")
        return TRUE;
    *reinterpret_cast<bool*>(data) = true;
    return FALSE;
}

// A dialog with a folder tree: no message box of the program.
bool is_folder_dialog(HWND hwnd) {
    bool tree = false;
    if (class_of(hwnd) == L"#32770")
        EnumChildWindows(hwnd, find_tree, reinterpret_cast<LPARAM>(&tree));
    return tree;
}

BOOL CALLBACK find_top(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    if (!IsWindowVisible(hwnd))
        return TRUE;
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (search->caption != nullptr ? text_of(hwnd) == *search->caption
                                   : process == search->process && is_folder_dialog(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND wait_for(Search search) {
    for (int i = 0; i < 300; ++i) {
        search.found = nullptr;
        EnumWindows(find_top, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        Sleep(100);
    }
    return nullptr;
}

BOOL CALLBACK collect(HWND hwnd, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(hwnd);
    return TRUE;
}

int choose(char** argv) {
    const std::wstring caption = from_hex_utf8(argv[2]);
    const int button_id = std::atoi(argv[3]);
    const int box_id = std::atoi(argv[4]);
    const std::wstring title = from_hex_utf8(argv[5]);
    const std::wstring folder = from_hex_utf8(argv[6]);

    HWND main = wait_for({0, &caption, nullptr});
    if (main == nullptr) {
        std::printf("no window\n");
        return 2;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(main, &process);
    HWND button = GetDlgItem(main, button_id);
    RECT client{};
    GetClientRect(button, &client);
    const LPARAM middle = MAKELPARAM(client.right / 2, client.bottom / 2);
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    PostMessageW(button, WM_LBUTTONUP, 0, middle);

    HWND dialog = wait_for({process, nullptr, nullptr});
    if (dialog == nullptr) {
        std::printf("no dialog\n");
        return 2;
    }
    Sleep(500);  // its tree filled
    std::vector<HWND> children;
    EnumChildWindows(dialog, collect, reinterpret_cast<LPARAM>(&children));
    bool title_found = false;
    HWND edit = nullptr, ok = GetDlgItem(dialog, IDOK);
    for (HWND child : children) {
        const std::wstring text = text_of(child);
        std::printf("dialog %s \"%s\"\n", utf8(class_of(child)).c_str(), utf8(text).c_str());
        title_found |= text == title;
        if (class_of(child) == L"Edit" && IsWindowVisible(child))
            edit = child;
    }
    if (edit == nullptr || ok == nullptr) {
        std::printf("no edit box or OK button\n");
        return 2;
    }
    // The dialog takes the folder it selects from its own process's memory;
    // what is typed into its edit box does not count. Each folder above the
    // chosen one is opened first: the tree finds only what it has shown.
    HANDLE other = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, process);
    const size_t size = (folder.size() + 1) * sizeof(wchar_t);
    auto* there = other != nullptr
                      ? static_cast<wchar_t*>(VirtualAllocEx(
                            other, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
                      : nullptr;
    if (there == nullptr) {
        std::printf("the folder cannot be handed to the dialog\n");
        return 2;
    }
    auto send = [&](UINT message, const std::wstring& path) {
        WriteProcessMemory(other, there, path.c_str(), (path.size() + 1) * sizeof(wchar_t),
                           nullptr);
        SendMessageTimeoutW(dialog, message, TRUE, reinterpret_cast<LPARAM>(there), SMTO_BLOCK,
                            5000, nullptr);
    };
    // The edit box names the folder once the tree has reached it; a folder
    // that the tree has not listed yet is asked for again.
    auto select = [&](const std::wstring& path) {
        const std::wstring name = path.substr(path.find_last_of(L'\\', path.size() - 2) + 1);
        for (int attempt = 0; attempt < 10 && text_of(edit) != name; ++attempt) {
            send(BFFM_SETSELECTIONW, path);
            for (int i = 0; i < 10 && text_of(edit) != name; ++i)
                Sleep(100);
        }
        std::printf("step \"%s\" shows \"%s\"\n", utf8(path).c_str(), utf8(text_of(edit)).c_str());
        send(BFFM_SETEXPANDED, path);
        Sleep(200);
    };
    for (size_t at = folder.find(L'\\', 3); at != std::wstring::npos;
         at = folder.find(L'\\', at + 1))
        select(folder.substr(0, at));
    std::printf("folder \"%s\"\n", utf8(folder).c_str());
    select(folder);
    Sleep(300);
    std::printf("selected \"%s\"\n", utf8(text_of(edit)).c_str());
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    for (int i = 0; i < 100 && IsWindow(dialog); ++i)
        Sleep(100);
    Sleep(500);  // the program's answer to the choice
    const std::wstring shown = text_of(GetDlgItem(main, box_id));
    std::printf("box \"%s\"\n", utf8(shown).c_str());
    PostMessageW(main, WM_CLOSE, 0, 0);
    VirtualFreeEx(other, there, 0, MEM_RELEASE);
    CloseHandle(other);
    return title_found && shown == folder ? 0 : 1;
}

int close_at(char** argv) {
    const std::wstring caption = from_hex_utf8(argv[2]);
    const int box_id = std::atoi(argv[3]);
    const std::wstring folder = from_hex_utf8(argv[4]);
    const bool rows = std::string(argv[5]) == "rows";
    const std::wstring what = from_hex_utf8(argv[6]);
    HWND main = nullptr;
    for (int i = 0; i < 3000 && main == nullptr; ++i) {
        HWND candidate = wait_for({0, &caption, nullptr});
        if (candidate != nullptr && text_of(GetDlgItem(candidate, box_id)) == folder)
            main = candidate;
        else
            Sleep(10);
    }
    if (main == nullptr) {
        std::printf("no window\n");
        return 2;
    }
    HWND list = rows ? GetDlgItem(main, std::stoi(what)) : nullptr;
    bool shown = false;
    for (int i = 0; i < 60000 && !shown; ++i) {
        DWORD_PTR count = 0;
        if (rows)
            SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_BLOCK, 5000, &count);
        shown = rows ? count > 0 : GetFileAttributesW(what.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (!shown)
            Sleep(1);
    }
    PostMessageW(main, WM_CLOSE, 0, 0);
    std::printf("shown %d\n", shown ? 1 : 0);
    return shown ? 0 : 1;
}

// The control with the focus in the thread of `window`, null for none.
HWND focus_of(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

// Other programs' windows may come and go on the display meanwhile: a
// person brings the window to the front before pressing a key, and only
// the window in front has a focus.
void to_front(HWND window) {
    if (GetForegroundWindow() != window) {
        SetForegroundWindow(window);
        Sleep(200);
    }
}

// The program answers in its own time, and another program's window may
// take the front meanwhile: asked again for a while until a control of the
// window has the focus.
void print_focus(const char* what, HWND window) {
    HWND focus = nullptr;
    Sleep(500);
    for (int i = 0; i < 50; ++i) {
        to_front(window);
        focus = focus_of(window);
        if (focus != nullptr && GetParent(focus) == window)
            break;
        Sleep(100);
    }
    std::printf("%s %d\n", what,
                focus != nullptr && GetParent(focus) == window ? GetDlgCtrlID(focus) : 0);
}

void press_key(HWND window, WPARAM key) {
    to_front(window);
    HWND target = focus_of(window);
    if (target == nullptr)
        target = window;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

// The executable's path of the process that owns `window`.
std::wstring image_of(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (handle == nullptr)
        return {};
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const BOOL found = QueryFullProcessImageNameW(handle, 0, path, &size);
    CloseHandle(handle);
    return found ? std::wstring(path, size) : std::wstring();
}

struct Owned {
    const std::wstring* caption;
    const std::wstring* image;
    HWND found;
};

BOOL CALLBACK find_owned(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<Owned*>(data);
    if (IsWindowVisible(hwnd) && text_of(hwnd) == *search->caption &&
        CompareStringOrdinal(image_of(hwnd).c_str(), -1, search->image->c_str(), -1, TRUE) ==
            CSTR_EQUAL) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The top-level window CAPTION of the program IMAGE: other tests' programs
// may show windows of the same caption on the display meanwhile.
HWND wait_for_owned(const std::wstring& caption, const std::wstring& image) {
    for (int i = 0; i < 300; ++i) {
        Owned search{&caption, &image, nullptr};
        EnumWindows(find_owned, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        Sleep(100);
    }
    return nullptr;
}

int keys(char** argv) {
    const std::wstring caption = from_hex_utf8(argv[2]);
    const std::wstring image = from_hex_utf8(argv[3]);
    const int tabs = std::atoi(argv[4]);
    const int button_id = std::atoi(argv[5]);
    const std::wstring modal_caption = from_hex_utf8(argv[6]);
    HWND main = wait_for_owned(caption, image);
    if (main == nullptr) {
        std::printf("no window\n");
        return 2;
    }
    print_focus("focus", main);
    for (int i = 0; i < tabs; ++i) {
        press_key(main, VK_TAB);
        print_focus("tab", main);
    }
    HWND button = GetDlgItem(main, button_id);
    RECT client{};
    GetClientRect(button, &client);
    const LPARAM middle = MAKELPARAM(client.right / 2, client.bottom / 2);
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    PostMessageW(button, WM_LBUTTONUP, 0, middle);
    HWND modal = wait_for_owned(modal_caption, image);
    if (modal == nullptr) {
        std::printf("no modal window\n");
        PostMessageW(main, WM_CLOSE, 0, 0);
        return 2;
    }
    auto minimise = [](HWND hwnd) {
        return (GetWindowLongW(hwnd, GWL_STYLE) & WS_MINIMIZEBOX) != 0;
    };
    std::printf("minimise %d modal %d\n", minimise(main) ? 1 : 0, minimise(modal) ? 1 : 0);
    print_focus("modal-focus", modal);
    PostMessageW(modal, WM_CLOSE, 0, 0);
    for (int i = 0; i < 100 && IsWindow(modal); ++i)
        Sleep(50);
    print_focus("focus-again", main);
    PostMessageW(main, WM_CLOSE, 0, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Lines end in LF, as the test reads them.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 2 && std::string(argv[1]) == "acp") {
        std::printf("%u\n", GetACP());
        return 0;
    }
    if (argc == 7 && std::string(argv[1]) == "choose")
        return choose(argv);
    if (argc == 7 && std::string(argv[1]) == "close-at")
        return close_at(argv);
    if (argc == 7 && std::string(argv[1]) == "keys")
        return keys(argv);
    std::fprintf(stderr,
                 "usage: browse_driver acp | choose CAPTION BUTTON BOX TITLE FOLDER"
                 " | close-at CAPTION BOX FOLDER rows|file LIST|PATH"
                 " | keys CAPTION PROGRAM TABS BUTTON MODAL\n");
    return 2;
}
