#include "runtime/kernel/services/system_functions.h"

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/automation/transcript.h"
#include "runtime/kernel/runtime.h"
#include "runtime/kernel/services/headless_drawing.h"
#include "runtime/kernel/ui/unit_handle.h"

// The platform's convention for system functions: the runtime calls them as
// it calls the system's own (dll_call.cpp).
#if defined(__i386__)
#define SYSTEM_API __attribute__((stdcall))
// A window procedure, as CallWindowProcA calls it.
#define WINDOW_PROCEDURE __attribute__((stdcall))
#else
#define SYSTEM_API
// On x86-64 the system calls window procedures in the Microsoft convention on
// every system, so that one program's routine works under every runtime.
#define WINDOW_PROCEDURE __attribute__((ms_abi))
#endif

namespace kernel {

namespace {

Runtime& runtime() {
    return Runtime::instance();
}

constexpr size_t kMaxPath = 260;  // MAX_PATH: the buffers the folder functions fill
constexpr int32_t kOk = 0;        // S_OK
constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x80070057u);  // E_INVALIDARG

// ---- user32 ----

using WindowProcedure = intptr_t(WINDOW_PROCEDURE*)(intptr_t, uint32_t, uintptr_t, intptr_t);

// CallWindowProcA: programs call their own routines through it.
SYSTEM_API intptr_t call_window_proc(intptr_t procedure, intptr_t window, intptr_t message,
                                     intptr_t w, intptr_t l) {
    const auto* address = reinterpret_cast<const void*>(procedure);
    if (procedure == 0)
        return 0;
    if (!runtime().memory().in_code(address))
        runtime().fatal("CallWindowProcA was given no routine of the program.");
    return reinterpret_cast<WindowProcedure>(procedure)(window, static_cast<uint32_t>(message),
                                                        static_cast<uintptr_t>(w), l);
}

struct Rect {        // RECT
    int32_t left;    // left edge
    int32_t top;     // top edge
    int32_t right;   // right edge, outside the rectangle
    int32_t bottom;  // bottom edge, outside the rectangle
};

SYSTEM_API intptr_t set_rect(intptr_t rect, intptr_t left, intptr_t top, intptr_t right,
                             intptr_t bottom) {
    auto* r = reinterpret_cast<Rect*>(rect);
    if (!runtime().memory().writable(r, sizeof(Rect)))
        return 0;
    const Rect value{static_cast<int32_t>(left), static_cast<int32_t>(top),
                     static_cast<int32_t>(right), static_cast<int32_t>(bottom)};
    std::memcpy(r, &value, sizeof value);
    return 1;
}

drawing::Drawing& drawing() {
    static drawing::Drawing model(
        [](int64_t handle) -> std::optional<drawing::UnitView> {
            auto place = ui::unit_place(handle);
            if (!place)
                return std::nullopt;
            ui::WindowState* window = runtime().windows().window(place->window);
            if (window == nullptr || place->index >= window->units.size())
                return std::nullopt;
            const ui::UnitState& unit = window->units[place->index];
            return drawing::UnitView{ui::display_name(unit), unit.now.width, unit.now.height,
                                     window->open};
        },
        [](const std::string& line) {
            if (::automation::transcript_enabled())
                ::automation::append_transcript_line(line);
        });
    return model;
}

SYSTEM_API intptr_t get_dc(intptr_t window) {
    return static_cast<intptr_t>(drawing().get_dc(window));
}

SYSTEM_API intptr_t release_dc(intptr_t window, intptr_t dc) {
    return drawing().release_dc(window, dc);
}

SYSTEM_API intptr_t set_window_rgn(intptr_t window, intptr_t region, intptr_t) {
    return drawing().set_window_region(window, region);
}

// ---- gdi32, msimg32 ----

SYSTEM_API intptr_t create_round_rect_rgn(intptr_t left, intptr_t top, intptr_t right,
                                          intptr_t bottom, intptr_t width, intptr_t height) {
    return static_cast<intptr_t>(drawing().create_round_rect_region(
        static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right),
        static_cast<int32_t>(bottom), static_cast<int32_t>(width), static_cast<int32_t>(height)));
}

SYSTEM_API intptr_t gradient_fill(intptr_t dc, intptr_t vertices, intptr_t vertex_count,
                                  intptr_t mesh, intptr_t mesh_count, intptr_t mode) {
    const auto nv = static_cast<uint32_t>(vertex_count);
    const auto nm = static_cast<uint32_t>(mesh_count);
    const auto* v = reinterpret_cast<const drawing::Vertex*>(vertices);
    const auto* m = reinterpret_cast<const drawing::GradientRect*>(mesh);
    // The records must lie in the program's memory; a count that runs past
    // them is refused, as the system refuses what it cannot read.
    const ProgramMemory& memory = runtime().memory();
    if (nv == 0 || nm == 0 || nv > 0x10000 || nm > 0x10000 ||
        !memory.holds(v, nv * sizeof(drawing::Vertex)) ||
        !memory.holds(m, nm * sizeof(drawing::GradientRect)))
        return 0;
    return drawing().gradient_fill(dc, {v, nv}, {m, nm}, static_cast<uint32_t>(mode)) ? 1 : 0;
}

// ---- shell32, ole32: the folder dialog ----

// The item id lists handed out: the desktop (empty list) and chosen folders.
// Each is a block of the runtime with the shape of an item id list (a
// 16-bit size per item, ended by a zero size), so that a program that walks
// it finds its end.
struct ItemIds {
    std::unique_ptr<uint8_t[]> block;
    std::optional<std::string> path;  // GBK; none for the desktop
};

std::map<uintptr_t, ItemIds>& item_ids() {
    static std::map<uintptr_t, ItemIds> ids;
    return ids;
}

uintptr_t new_item_ids(std::optional<std::string> path) {
    const size_t item = path ? 2 + path->size() + 1 : 0;
    ItemIds ids{std::make_unique<uint8_t[]>(item + 2), std::move(path)};
    if (ids.path) {
        const auto size = static_cast<uint16_t>(std::min<size_t>(item, 0xFFFF));
        std::memcpy(ids.block.get(), &size, 2);
        std::memcpy(ids.block.get() + 2, ids.path->c_str(), ids.path->size() + 1);
    }
    const auto address = reinterpret_cast<uintptr_t>(ids.block.get());
    item_ids()[address] = std::move(ids);
    return address;
}

constexpr int32_t kDesktop = 0;  // CSIDL_DESKTOP

SYSTEM_API intptr_t sh_get_folder_location(intptr_t, intptr_t folder, intptr_t, intptr_t,
                                           intptr_t result) {
    auto* out = reinterpret_cast<uintptr_t*>(result);
    if (!runtime().memory().writable(out, sizeof(uintptr_t)))
        return kInvalidArgument;
    if (static_cast<int32_t>(folder) != kDesktop) {
        *out = 0;
        return kInvalidArgument;
    }
    *out = new_item_ids(std::nullopt);
    return kOk;
}

struct BrowseInfo {      // BROWSEINFOA
    intptr_t owner;      // hwndOwner: the dialog's owner window
    const void* root;    // pidlRoot: the item id list shown at the top
    char* display_name;  // pszDisplayName: MAX_PATH bytes for the chosen item's name
    const char* title;   // lpszTitle: the text above the tree
    uint32_t flags;      // ulFlags: BIF_*
    intptr_t callback;   // lpfn: not called here
    intptr_t parameter;  // lParam: for the callback
    int32_t image;       // iImage: out, the chosen item's icon index
};

// The name of a path's last part, as the dialog shows it: "D:" for a drive
// root; at most MAX_PATH − 1 bytes, never ending inside a double-byte
// character.
std::string display_name_of(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && (trimmed.back() == '\\' || trimmed.back() == '/'))
        trimmed.pop_back();
    size_t start = 0;
    for (size_t i = 0; i < trimmed.size(); ++i) {
        const auto c = static_cast<unsigned char>(trimmed[i]);
        if (c >= 0x81 && c <= 0xFE && i + 1 < trimmed.size()) {
            ++i;  // a trail byte may be 0x5C; it separates nothing
            continue;
        }
        if ((c == '\\' || c == '/') && i + 1 < trimmed.size())
            start = i + 1;
    }
    std::string name = trimmed.substr(start);
    size_t keep = 0;
    for (size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        const size_t width = c >= 0x81 && c <= 0xFE && i + 1 < name.size() ? 2 : 1;
        if (i + width > kMaxPath - 1)
            break;
        i += width;
        keep = i;
    }
    name.resize(keep);
    return name;
}

// "\\name": a computer of the network, which is no folder of the file system.
bool is_network_computer(const std::string& path) {
    return path.size() > 2 && path.compare(0, 2, "\\\\") == 0 &&
           path.find('\\', 2) == std::string::npos;
}

SYSTEM_API intptr_t sh_browse_for_folder(intptr_t info_address) {
    auto* info = reinterpret_cast<BrowseInfo*>(info_address);
    const ProgramMemory& memory = runtime().memory();
    // The runtime writes the icon index into it.
    if (!memory.writable(info, sizeof(BrowseInfo)))
        runtime().fatal("SHBrowseForFolderA was given no browse information.");
    std::string title;
    if (info->title != nullptr) {
        const int64_t length = memory.text_length(info->title);
        if (length < 0)
            runtime().fatal("SHBrowseForFolderA was given a title outside the program's memory.");
        title.assign(info->title, static_cast<size_t>(length));
    }
    if (info->display_name != nullptr && !memory.writable(info->display_name, kMaxPath))
        runtime().fatal("SHBrowseForFolderA was given a display name buffer of less than " +
                        std::to_string(kMaxPath) + " bytes.");

    const std::optional<std::string> path = runtime().windows().choose_folder({title});
    auto give_name = [&](const std::string& name) {
        if (info->display_name != nullptr)
            std::memcpy(info->display_name, name.c_str(), name.size() + 1);
    };
    info->image = 0;
    if (!path) {
        give_name("");
        return 0;
    }
    if (is_network_computer(*path)) {
        // The dialog gives no item for it, only its name.
        give_name(display_name_of(path->substr(2)));
        return 0;
    }
    give_name(display_name_of(*path));
    return static_cast<intptr_t>(new_item_ids(*path));
}

SYSTEM_API intptr_t sh_get_path_from_id_list(intptr_t ids, intptr_t buffer) {
    auto* out = reinterpret_cast<char*>(buffer);
    auto found = item_ids().find(static_cast<uintptr_t>(ids));
    const std::string* path =
        found != item_ids().end() && found->second.path ? &*found->second.path : nullptr;
    if (!runtime().memory().writable(out, path ? std::min(path->size() + 1, kMaxPath) : 1))
        return 0;
    // The desktop is no folder of the file system here; a path that does not
    // fit the caller's MAX_PATH bytes is refused.
    if (path == nullptr || path->size() >= kMaxPath) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, path->c_str(), path->size() + 1);
    return 1;
}

SYSTEM_API intptr_t co_task_mem_free(intptr_t block) {
    // Only the runtime's own item id lists come from here; anything else is
    // left alone.
    item_ids().erase(static_cast<uintptr_t>(block));
    return 0;
}

// ---- resolution ----

struct OwnFunction {
    const char* library;
    const char* function;
    const void* address;
};

const OwnFunction kFunctions[] = {
    {"user32", "CallWindowProcA", reinterpret_cast<const void*>(&call_window_proc)},
    {"user32", "SetRect", reinterpret_cast<const void*>(&set_rect)},
    {"user32", "GetDC", reinterpret_cast<const void*>(&get_dc)},
    {"user32", "ReleaseDC", reinterpret_cast<const void*>(&release_dc)},
    {"user32", "SetWindowRgn", reinterpret_cast<const void*>(&set_window_rgn)},
    {"gdi32", "CreateRoundRectRgn", reinterpret_cast<const void*>(&create_round_rect_rgn)},
    {"msimg32", "GradientFill", reinterpret_cast<const void*>(&gradient_fill)},
    {"shell32", "SHGetFolderLocation", reinterpret_cast<const void*>(&sh_get_folder_location)},
    {"shell32", "SHBrowseForFolderA", reinterpret_cast<const void*>(&sh_browse_for_folder)},
    {"shell32", "SHGetPathFromIDListA", reinterpret_cast<const void*>(&sh_get_path_from_id_list)},
    {"ole32", "CoTaskMemFree", reinterpret_cast<const void*>(&co_task_mem_free)},
};

}  // namespace

bool same_library(std::string_view declared, std::string_view library) {
    if (declared.empty())
        declared = "user32";
    if (declared.size() > 4) {
        std::string_view suffix = declared.substr(declared.size() - 4);
        bool dll = true;
        for (size_t i = 0; i < 4; ++i)
            dll = dll && (suffix[i] | 0x20) == ".dll"[i];
        if (dll)
            declared.remove_suffix(4);
    }
    if (declared.size() != library.size())
        return false;
    for (size_t i = 0; i < library.size(); ++i) {
        char c = declared[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != library[i])
            return false;
    }
    return true;
}

uint64_t own_system_function(const image::DllDeclaration& declaration) {
    for (const OwnFunction& f : kFunctions) {
        if (declaration.function == f.function && same_library(declaration.library, f.library))
            return reinterpret_cast<uintptr_t>(f.address);
    }
    return 0;
}

bool is_drawing_function(std::string_view function) {
    return function == "GetDC" || function == "ReleaseDC" || function == "SetWindowRgn" ||
           function == "CreateRoundRectRgn" || function == "GradientFill";
}

bool is_folder_dialog_function(std::string_view function) {
    return function == "SHGetFolderLocation" || function == "SHBrowseForFolderA" ||
           function == "SHGetPathFromIDListA" || function == "CoTaskMemFree";
}

}  // namespace kernel
