// A test host for program images: binds the image named on the command line
// into native memory and runs its start routine, with slots that print every
// call on standard output, one line each. The same source is built for
// linux-x64 and win-x64, so one image's run can be compared on both.
//
//   image_host IMAGE
//
// Kernel commands: 1 prints its argument block; 2 calls the routine at
// argument 1 with argument 2. Property writes are remembered and read back.
// The window's creation handler runs from the event loop slot. The exit slot
// runs the registered release routine, then ends the process.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "contract/runtime_abi.h"
#include "image/bind/native_memory.h"

namespace {

using image::BoundImage;

const BoundImage* g_bound;
RtReleaseRoutine g_release;
std::map<std::tuple<uint32_t, uint32_t, int32_t>, int64_t> g_properties;

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string describe(const RtArgumentBlock* block) {
    std::string text;
    for (uint32_t i = 0; i < block->count && i < 16; ++i) {
        const RtArgument& a = block->arguments[i];
        char item[96];
        if (a.type == RT_TYPE_TEXT) {
            const uint64_t address = a.low | static_cast<uint64_t>(a.high) << 32;
            const auto* p = reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(address));
            std::string hex;
            for (; *p != 0; ++p) {
                char h[4];
                std::snprintf(h, sizeof h, "%02x", *p);
                hex += h;
            }
            std::snprintf(item, sizeof item, " text:%s", hex.c_str());
        } else if (a.type == RT_TYPE_INT32) {
            std::snprintf(item, sizeof item, " int:%d", static_cast<int32_t>(a.low));
        } else if (a.type == RT_TYPE_BOOL) {
            std::snprintf(item, sizeof item, " bool:%u", a.low);
        } else {
            std::snprintf(item, sizeof item, " unit(type 0x%08x):0x%08x/0x%08x", a.type, a.low,
                          a.high);
        }
        text += item;
    }
    return text;
}

RT_CALL void runtime_error(int32_t code) {
    say("runtime-error %d", code);
    std::exit(3);
}

RT_CALL intptr_t dll_call(int32_t number, int32_t count, const intptr_t* arguments) {
    intptr_t sum = 0;
    for (int32_t i = 0; i < count; ++i)
        sum += arguments[i];
    say("dll %d count %d sum %" PRIdPTR, number, count, sum);
    return sum;
}

RT_CALL int64_t library_command(int32_t position, int32_t command, const RtArgumentBlock* block) {
    say("library %d command %d%s", position, command, describe(block).c_str());
    return 77;
}

RT_CALL int64_t kernel_command(int32_t command, const RtArgumentBlock* block) {
    if (command == 2) {
        using Routine = void(RT_CALL*)(int32_t);
        const RtArgument& a = block->arguments[0];
        auto routine = reinterpret_cast<Routine>(
            static_cast<uintptr_t>(a.low | static_cast<uint64_t>(a.high) << 32));
        say("callback %d", static_cast<int32_t>(block->arguments[1].low));
        routine(static_cast<int32_t>(block->arguments[1].low));
        return 0;
    }
    say("kernel %d%s", command, describe(block).c_str());
    return 0;
}

RT_CALL int64_t get_property(uint32_t window, uint32_t unit, int32_t property, int32_t index) {
    int64_t value = g_properties[{window, unit, property}];
    say("get-property 0x%08x 0x%08x %d %d -> %" PRId64, window, unit, property, index, value);
    return value;
}

RT_CALL void set_property(uint32_t window, uint32_t unit, int32_t property, int32_t index,
                          int64_t value) {
    g_properties[{window, unit, property}] = value;
    say("set-property 0x%08x 0x%08x %d %d %" PRId64, window, unit, property, index, value);
}

RT_CALL void* heap_new(uint32_t size) {
    say("heap-new %u", size);
    return std::calloc(1, size == 0 ? 1 : size);
}

RT_CALL void* heap_resize(void* block, uint32_t size) {
    say("heap-resize %u", size);
    return std::realloc(block, size);
}

RT_CALL void heap_free(void* block) {
    say("heap-free");
    std::free(block);
}

RT_CALL void exit_program(int32_t code) {
    say("exit %d", code);
    if (RtReleaseRoutine release = g_release) {
        g_release = nullptr;
        release();
    }
    say("ended");
    std::exit(code);
}

RT_CALL void serve_events(int32_t zero) {
    say("serve-events %d", zero);
    // The start window's creation: event 0 of its own record.
    for (const image::Window& window : g_bound->model.windows) {
        if (window.id != RT_START_WINDOW)
            continue;
        for (const image::UnitEvent& event : window.units.front().events) {
            if (event.event == RT_EVENT_MAIN)
                reinterpret_cast<RtEventHandler>(g_bound->code_offset_address(event.handler))();
        }
    }
}

RT_CALL void load_window(uint32_t window) {
    say("load-window 0x%08x", window);
}

RT_CALL intptr_t service(int32_t number, intptr_t a, intptr_t, intptr_t, intptr_t) {
    if (number == RT_SERVICE_ON_RELEASE) {
        g_release = reinterpret_cast<RtReleaseRoutine>(a);
        say("service on-release");
        return 0;
    }
    say("service %d", number);
    return 0;
}

class Host final : public image::NativeMemoryHost {
  public:
    uint64_t slot(size_t index) override {
        static const void* const slots[RT_SLOT_COUNT] = {
            reinterpret_cast<const void*>(&runtime_error),
            reinterpret_cast<const void*>(&dll_call),
            reinterpret_cast<const void*>(&library_command),
            reinterpret_cast<const void*>(&kernel_command),
            reinterpret_cast<const void*>(&get_property),
            reinterpret_cast<const void*>(&set_property),
            reinterpret_cast<const void*>(&heap_new),
            reinterpret_cast<const void*>(&heap_resize),
            reinterpret_cast<const void*>(&heap_free),
            reinterpret_cast<const void*>(&exit_program),
            reinterpret_cast<const void*>(&serve_events),
            reinterpret_cast<const void*>(&load_window),
            reinterpret_cast<const void*>(&service)};
        return reinterpret_cast<uintptr_t>(slots[index]);
    }
    bool load_library(const image::LibraryEntry& library, size_t position) override {
        say("library-load %u %s", static_cast<unsigned>(position), library.name.c_str());
        return true;
    }
    std::optional<uint64_t> resolve_dll(const image::DllDeclaration&) override { return 0; }
    std::optional<uint32_t> rewrite_identifier(uint32_t id) override { return id; }
    std::optional<uint32_t> rewrite_dll_number(uint32_t n) override { return n; }
    std::optional<uint32_t> rewrite_library_position(uint32_t p) override { return p; }
    std::optional<uint32_t> rewrite_type_reference(uint32_t t) override { return t; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: image_host IMAGE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    Host host;
    auto bound = image::bind_image(bytes, host);
    if (bound.is_error()) {
        say("bind-error %s", bound.error().c_str());
        return 1;
    }
    g_bound = &bound.value();
    say("bound");
    reinterpret_cast<RtStartRoutine>(bound.value().start_routine)();
    say("start routine returned");
    return 0;
}
