#include "image/link/program_header.h"

#include <cstdio>

#include "base/encoding.h"
#include "contract/runtime_abi.h"

namespace image::link {

namespace {

std::string hex_id(uint32_t id) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", id);
    return text;
}

}  // namespace

std::string handle_class(const ProgramDescription& description, const UnitDescription& unit,
                         bool window_record) {
    if (window_record)
        return "rt::Window";
    const uint32_t library = RT_TYPE_LIBRARY(unit.unit.type);
    const uint32_t number = RT_TYPE_NUMBER(unit.unit.type);
    const std::string library_name = library >= 1 && library <= description.libraries.size()
                                         ? description.libraries[library - 1].name
                                         : std::string();
    if (library_name == "krnln") {
        switch (number | 0x00010000u) {
            case RT_UNIT_EDIT:
                return "rt::EditBox";
            case RT_UNIT_PICTURE:
                return "rt::PictureBox";
            case RT_UNIT_CANVAS:
                return "rt::DrawingBoard";
            case RT_UNIT_GROUP:
                return "rt::GroupBox";
            case RT_UNIT_LABEL:
                return "rt::Label";
            case RT_UNIT_BUTTON:
                return "rt::Button";
            case RT_UNIT_RADIO:
                return "rt::RadioButton";
            case RT_UNIT_LIST:
                return "rt::ListBox";
            case RT_UNIT_HYPERLINK:
                return "rt::Hyperlink";
            case RT_UNIT_PICTURE_BUTTON:
                return "rt::PictureButton";
        }
    } else if (library_name == "iext" && number == RT_IEXT_TRANSPARENT_LABEL) {
        return "rt::TransparentLabel";
    } else if (library_name == "HtmlView" && number == RT_HTMLVIEW_BROWSER) {
        return "rt::HtmlView";
    }
    return "rt::Unit";
}

std::string units_header(const ProgramDescription& description, const std::string& source_name) {
    std::string out = "// The handles of " + source_name +
                      "'s windows and units by their code names.\n"
                      "// Written by imagelink prepare from the description: edit that, not this.\n"
                      "#pragma once\n\n"
                      "#include \"rt/markers.h\"\n"
                      "#include \"rt/window.h\"\n\n"
                      "namespace ui {\n";
    for (const WindowDescription& window : description.windows) {
        const std::string window_id = hex_id(window.window.id);
        out += "\n// window " + window_id + "\n";
        for (size_t i = 0; i < window.units.size(); ++i) {
            const UnitDescription& unit = window.units[i];
            if (unit.code_name.empty())
                continue;
            const bool own = i == 0;
            const std::string type = handle_class(description, unit, own);
            std::string label;
            if (!own) {
                auto name = base::gbk_to_utf8(unit.unit.name);
                label = "  // " + (name ? *name : std::string("?"));
            }
            out += "inline " + type + " " + unit.code_name + "() {" + label + "\n    return " +
                   type + "(RT_ID(" + window_id + ")" +
                   (own ? std::string() : ", RT_ID(" + hex_id(unit.unit.id) + ")") + ");\n}\n";
        }
    }
    out += "\n}  // namespace ui\n";
    return out;
}

std::string start_window_source(const ProgramDescription& description) {
    return "// The window the program opens first, as its description names it.\n"
           "// Written by imagelink prepare.\n"
           "#include \"rt/markers.h\"\n"
           "#include \"rt/program.h\"\n\n"
           "extern \"C\" RT_CALL uint32_t app_start_window() {\n"
           "    return RT_ID(" +
           hex_id(description.start_window) + ");\n}\n";
}

}  // namespace image::link
