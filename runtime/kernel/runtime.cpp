#include "runtime/kernel/runtime.h"

#include <cstdlib>
#include <cstring>

#include "common/automation/transcript.h"
#include "common/base/encoding.h"
#include "common/base/hex.h"
#include "runtime/kernel/image_location.h"
#include "runtime/kernel/kernel_host.h"
#include "runtime/kernel/platform.h"

namespace kernel {

namespace {

uint64_t unit_key(uint32_t window, uint32_t unit) {
    return static_cast<uint64_t>(window) << 32 | unit;
}

// A transcript text from GBK.
std::string transcript_text(std::string_view gbk) {
    return automation::quote(base::gbk_to_utf8(gbk).value_or(std::string(gbk)));
}

const char* runtime_error_text(int32_t code) {
    switch (code) {
        case RT_ERROR_INDEX_ABOVE_COUNT:
            return "Run-time error 1: an array index is above the element count.";
        case RT_ERROR_INDEX_BELOW_ONE:
            return "Run-time error 4: an array index is below 1.";
        case RT_ERROR_STACK_UNBALANCED:
            return "Run-time error 6: the stack is unbalanced after a DLL call.";
    }
    return nullptr;
}

}  // namespace

Runtime& Runtime::instance() {
    static Runtime runtime;
    return runtime;
}

void Runtime::run(const void* image) {
    auto bytes = locate_image(image);
    if (bytes.is_error())
        fatal("The program image is invalid: " + bytes.error());
    KernelHost host(*this);
    auto bound = image::bind_image(bytes.value(), host);
    if (bound.is_error())
        fatal("The program image is invalid: " + bound.error());
    bound_ = bound.release_value();
    reinterpret_cast<RtStartRoutine>(static_cast<uintptr_t>(bound_->start_routine))();
    run_release_routine();
}

void Runtime::run_release_routine() {
    // Once, however the program ends.
    if (RtReleaseRoutine release = release_) {
        release_ = nullptr;
        release();
    }
}

void Runtime::fatal(const std::string& gbk_text) {
    platform::show_error(gbk_text);
    run_release_routine();
    // The program stops in the middle of what it did: its blocks are
    // abandoned, not leaked.
    for (void* block : heap_blocks_)
        std::free(block);
    heap_blocks_.clear();
    platform::end_process(0);
}

void Runtime::runtime_error(int32_t code) {
    const char* text = runtime_error_text(code);
    fatal(text != nullptr ? text : "Run-time error " + std::to_string(code) + ".");
}

intptr_t Runtime::dll_call(int32_t number, int32_t count, const intptr_t* arguments) {
    if (!bound_ || number < 0 || static_cast<size_t>(number) >= bound_->dll_addresses.size())
        fatal("A DLL call names no declaration (" + std::to_string(number) + ").");
    const uint64_t address = bound_->dll_addresses[static_cast<size_t>(number)];
    const image::DllDeclaration& declaration = bound_->model.dlls[static_cast<size_t>(number)];
    if (address == 0)
        fatal("The function " + declaration.function + " of \"" + declaration.library +
              "\" is not available on this system.");
    if (count < 0 || count > 12)
        fatal("A DLL call passes " + std::to_string(count) +
              " arguments; at most 12 are supported.");
    intptr_t a[12] = {};
    for (int32_t i = 0; i < count; ++i)
        a[i] = arguments[i];
    // Every argument is pointer-sized; the platform's convention takes
    // surplus arguments without harm.
    using Function = intptr_t (*)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                                  intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);
    return reinterpret_cast<Function>(static_cast<uintptr_t>(address))(
        a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11]);
}

int64_t Runtime::library_command(int32_t position, int32_t command,
                                 const RtArgumentBlock* arguments) {
    if (position <= 0 || static_cast<size_t>(position) >= libraries_.size())
        fatal("A library command names no support library (position " + std::to_string(position) +
              ").");
    auto entry = reinterpret_cast<RtLibraryCommandExport>(platform::find_export(
        libraries_[static_cast<size_t>(position)], RT_LIBRARY_COMMAND_EXPORT));
    if (entry == nullptr)
        fatal("The support library " + bound_->model.libraries[static_cast<size_t>(position)].name +
              " offers no commands.");
    static const RtKernelServices services = {
        [](uint32_t size) { return Runtime::instance().heap_new(size); },
        [](void* block) { Runtime::instance().heap_free(block); },
    };
    return entry(command, arguments, &services);
}

int64_t Runtime::kernel_command(int32_t command, const RtArgumentBlock*) {
    fatal("Unknown kernel command " + std::to_string(command) + ".");
}

int64_t Runtime::get_property(uint32_t window, uint32_t unit, int32_t property) {
    if (property == RT_PROPERTY_TEXT) {
        auto found = texts_.find(unit_key(window, unit));
        const std::string text = found != texts_.end() ? found->second : std::string();
        auto* copy = static_cast<char*>(heap_new(static_cast<uint32_t>(text.size() + 1)));
        std::memcpy(copy, text.c_str(), text.size() + 1);
        return static_cast<int64_t>(reinterpret_cast<uintptr_t>(copy));
    }
    auto found = numbers_.find({unit_key(window, unit), property});
    return found != numbers_.end() ? found->second : 0;
}

void Runtime::set_property(uint32_t window, uint32_t unit, int32_t property, int64_t value) {
    if (property == RT_PROPERTY_TEXT) {
        const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(value));
        std::string copy = text != nullptr ? text : "";
        automation::append_transcript_line("unit-text " + base::hex(unit) + " " +
                                           transcript_text(copy));
        texts_[unit_key(window, unit)] = std::move(copy);
        return;
    }
    automation::append_transcript_line("unit-property " + base::hex(unit) + " " +
                                       std::to_string(property) + " " + std::to_string(value));
    numbers_[{unit_key(window, unit), property}] = value;
}

void* Runtime::heap_new(uint32_t size) {
    void* block = std::calloc(1, size == 0 ? 1 : size);
    if (block == nullptr)
        fatal("Out of memory.");
    heap_blocks_.insert(block);
    return block;
}

void* Runtime::heap_resize(void* block, uint32_t size) {
    if (block == nullptr)
        return heap_new(size);
    if (heap_blocks_.erase(block) == 0)
        fatal("The program resized a block that is not on the runtime's heap.");
    void* resized = std::realloc(block, size == 0 ? 1 : size);
    if (resized == nullptr)
        fatal("Out of memory.");
    heap_blocks_.insert(resized);
    return resized;
}

void Runtime::heap_free(void* block) {
    if (block == nullptr)
        return;
    if (heap_blocks_.erase(block) == 0)
        fatal("The program released a block that is not on the runtime's heap.");
    std::free(block);
}

void Runtime::exit(int32_t code) {
    run_release_routine();
    automation::append_transcript_line("end " + std::to_string(code));
    platform::end_process(code);
}

const image::Window* Runtime::find_window(uint32_t id) const {
    for (const image::Window& window : bound_->model.windows) {
        if (window.id == id)
            return &window;
    }
    return nullptr;
}

void Runtime::load_window(uint32_t id) {
    const image::Window* window = find_window(id);
    if (window == nullptr)
        fatal("The program has no window " + base::hex(id) + ".");
    open_windows_.push_back(id);
    automation::append_transcript_line("window-open " + base::hex(id));
    // The window's creation: event 0 of its own record.
    for (const image::UnitEvent& event : window->units.front().events) {
        if (event.event == RT_EVENT_MAIN)
            reinterpret_cast<RtEventHandler>(
                static_cast<uintptr_t>(bound_->code_offset_address(event.handler)))();
    }
}

void Runtime::serve_events() {
    // Without a user (or a script taking the user's part), nothing more can
    // happen in a window: the program ends.
}

intptr_t Runtime::service(int32_t number, intptr_t a, intptr_t b, intptr_t, intptr_t) {
    switch (number) {
        case RT_SERVICE_ON_RELEASE:
            release_ = reinterpret_cast<RtReleaseRoutine>(a);
            return 0;
        case RT_SERVICE_EMPTY_ARRAY: {
            auto** variable = reinterpret_cast<RtArrayHeader**>(a);
            if (variable == nullptr || b < 0)
                fatal("An empty array was asked for without a variable.");
            heap_free(*variable);
            auto* array = static_cast<RtArrayHeader*>(heap_new(sizeof(RtArrayHeader)));
            array->dimensions = 1;
            array->count = 0;
            *variable = array;
            return 0;
        }
    }
    fatal("Unknown runtime service " + std::to_string(number) + ".");
}

}  // namespace kernel
