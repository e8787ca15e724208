// The program description: what an application declares beside its code —
// its support libraries, its DLL declarations and its windows with their
// units — in a readable, diff-friendly text (UTF-8 in the source tree; the
// linker stores texts in GBK).
//
//   # comment
//   library eCompress                  # the kernel library "krnln" is always first
//   dll round_region "gdi32" CreateRoundRectRgn
//   next-id 0001029A                   # optional; else one above the highest in use
//   start 52010001                     # the window the program opens first
//                                      # (default: 52010001 when there is one)
//   window 52010001 [block 19010008] [reserved TABLE BLOCK]
//     unit 06010000 window ""          # the window's own record comes first
//       at 0 0 480 320                 # left top width height
//       flags visible                  # visible disabled focus
//       name main_window               # code name of the handle in units.h
//       on create main_window_created  # event, handler routine
//       text "示例"                    # caption, or an edit box's content
//     unit 16010001 button "按钮1"
//       parent 16010005                # default: the window; children follow
//       name ok_button
//       on click ok_clicked
//
// Events by name: click and create (0: a click, a window's creation),
// change (1: an edit box's content), select (2: a list box row the person
// selects), closing (3: a window about to close), press (-1: the left
// button pressed on a unit the runtime paints); or by number.
//
// The unit's properties (each at most once; stored as the tagged items of
// RT_FORM_* in unit_table.h, in the order written):
//
//   text "..."                         every unit: caption or content
//   text-colour 0x0000FF               every unit: 0xBBGGRR
//   back-colour 0xFFFFFF               every unit: 0xBBGGRR
//   font "黑体" 12 bold italic underline  every unit: face, points, styles
//   items "甲" "乙"                     list box rows
//   selected 1                         list box: the selected row (from 0)
//   checked                            radio button
//   read-only                          edit box
//   multi-line                         edit box
//   picture "logo.bmp"                 picture, picture button, window: the
//                                      file's bytes (relative to the description)
//   bytes 0A0B0C                       raw bytes, appended as they are
//
// Unit types are written by their names in unit_table.h (window edit picture canvas group label
// button radio list hyperlink picture-button zip transparent-label
// html-view) or as library:number (eCompress:1).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image/format/image.h"
#include "image/link/elf_file.h"

namespace image::link {

struct DllAlias {
    std::string alias;  // the name code uses with RT_DLL(alias)
    DllDeclaration declaration;
};

struct EventDescription {
    int32_t event;
    std::string handler;  // routine name
};

struct UnitDescription {
    Unit unit;              // everything but children and handler offsets
    std::string code_name;  // the name of its handle in code; empty for none
    std::vector<EventDescription> events;
    std::vector<uint8_t> form_items;  // the RT_FORM_* tags written so far
    int line = 0;
};

struct WindowDescription {
    Window window;  // without units
    std::vector<UnitDescription> units;
    int line = 0;
};

struct ProgramDescription {
    std::vector<LibraryEntry> libraries;  // krnln first
    std::vector<DllAlias> dlls;
    std::vector<WindowDescription> windows;
    std::optional<uint32_t> next_id;
    uint32_t start_window = 0;  // the window the start routine opens

    // Every handler routine named by an event.
    std::vector<std::string> handler_names() const;
    std::optional<size_t> library_position(const std::string& name) const;
    std::optional<size_t> dll_number(const std::string& alias) const;
    bool defines_identifier(uint32_t id) const;
    bool defines_code_name(const std::string& name) const;
};

// Parses a description; relative `file` paths are taken from `base_folder`.
LinkResult<ProgramDescription> parse_description(const std::string& text,
                                                 const std::filesystem::path& base_folder);

// The windows with children derived from parents and handlers given as code
// offsets by `handler_offset`; nullopt from it means the routine is unknown.
template <typename Lookup>
LinkResult<std::vector<Window>> resolve_windows(const ProgramDescription& description,
                                                Lookup&& handler_offset);

// ---- template implementation ----

template <typename Lookup>
LinkResult<std::vector<Window>> resolve_windows(const ProgramDescription& description,
                                                Lookup&& handler_offset) {
    std::vector<Window> windows;
    for (const WindowDescription& wd : description.windows) {
        Window window = wd.window;
        for (const UnitDescription& ud : wd.units) {
            Unit unit = ud.unit;
            for (const EventDescription& event : ud.events) {
                std::optional<uint32_t> offset = handler_offset(event.handler);
                if (!offset)
                    return base::fail("line " + std::to_string(ud.line) + ": no routine named " +
                                      event.handler + " in the code");
                unit.events.push_back({event.event, *offset});
            }
            window.units.push_back(std::move(unit));
        }
        for (Unit& parent : window.units) {
            for (const Unit& child : window.units) {
                if (child.parent == parent.id && child.id != parent.id && parent.id != 0 &&
                    &child != &window.units.front())
                    parent.children.push_back(child.id);
            }
        }
        windows.push_back(std::move(window));
    }
    return windows;
}

}  // namespace image::link
