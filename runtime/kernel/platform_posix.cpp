#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "base/automation/transcript.h"
#include "base/encoding.h"
#include "runtime/kernel/platform.h"

namespace kernel::platform {

void* load_library(const std::string& utf8_path) {
    if (utf8_path.empty() || utf8_path.front() != '/')
        return nullptr;
    return dlopen(utf8_path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* find_export(void* library, const char* name) {
    return dlsym(library, name);
}

void show_error(std::string_view gbk_text) {
    const std::string text = base::gbk_to_utf8(gbk_text).value_or(std::string(gbk_text));
    std::fprintf(stderr, "Error: %s\n", text.c_str());
    automation::append_transcript_line(automation::message_box_line("Error", "error", "ok", text));
}

void end_process(int code) {
    std::fflush(nullptr);
    std::exit(code);
}

}  // namespace kernel::platform
