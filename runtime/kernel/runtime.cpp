#include "runtime/kernel/runtime.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/automation/transcript.h"
#include "base/hex.h"
#include "runtime/kernel/automation/driver.h"
#include "runtime/kernel/automation/script.h"
#include "runtime/kernel/automation/script_source.h"
#include "runtime/kernel/commands/kernel_commands.h"
#include "runtime/kernel/dll_call.h"
#include "runtime/kernel/image_location.h"
#include "runtime/kernel/kernel_host.h"
#include "runtime/kernel/platform.h"
#include "runtime/kernel/ui/headless.h"
#if defined(_WIN32)
#include "runtime/kernel/ui/win32/win32_interface.h"
#endif

namespace kernel {

namespace {

// The exit code of a run whose script could not take the user's part.
constexpr int kAutomationFailureExitCode = 3;

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
        fatal("The program image is invalid: " + bytes.error().message());
    KernelHost host(*this);
    auto bound = image::bind_image(bytes.value(), host);
    if (bound.is_error())
        fatal("The program image is invalid: " + bound.error().message());
    bound_ = bound.release_value();
    memory_.set_image(static_cast<uintptr_t>(bound_->placement.address), bound_->size);
    memory_.set_segments(static_cast<uintptr_t>(bound_->code_address),
                         bound_->model.code.data.size(),
                         static_cast<uintptr_t>(bound_->var_address), bound_->model.var_size);
    std::vector<std::string> libraries;
    for (const image::LibraryEntry& library : bound_->model.libraries)
        libraries.push_back(library.name);
    auto windows = ui::WindowSystem::create(bound_->model.windows, *this, libraries);
    if (windows.is_error())
        fatal("The program image is invalid: " + windows.error().message());
    windows_ = windows.release_value();

    // The user's part comes from the script; without one, nobody takes it:
    // the same as a script that has ended.
    auto source = automation::read_script_source();
    if (source.is_error())
        automation_failure(source.error());
    auto steps = automation::parse_script(source.value().value_or(std::string()),
                                          automation::own_program_name());
    if (steps.is_error())
        automation_failure("the script's " + steps.error().message());
    automation::ScriptDriver driver(steps.release_value());
#if defined(_WIN32)
    // Real windows, unless WJRT_UI=headless asks for none (automation
    // without a display). The person at the screen acts unless automation
    // is on (a script or a transcript), where a missing script is one that
    // has ended, as on every system.
    const bool automated = source.value().has_value() || ::automation::transcript_enabled();
    const char* chosen = std::getenv("WJRT_UI");
    if (chosen == nullptr || std::strcmp(chosen, "headless") != 0) {
        windows_->set_user_interface(
            ui::make_win32_interface(std::move(driver), automated, *windows_, *this, libraries));
    } else {
        windows_->set_user_interface(
            std::make_unique<ui::HeadlessInterface>(std::move(driver), *this));
    }
#else
    windows_->set_user_interface(std::make_unique<ui::HeadlessInterface>(std::move(driver), *this));
#endif

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

void Runtime::abandon_heap() {
    memory_.for_each_block([](void* block) { std::free(block); });
    memory_.clear_blocks();
}

void Runtime::fatal(const std::string& gbk_text) {
    platform::show_error(gbk_text);
    run_release_routine();
    abandon_heap();
    platform::end_process(0);
}

void Runtime::automation_failure(const std::string& utf8_text) {
    std::fprintf(stderr, "Automation failure: %s\n", utf8_text.c_str());
    ::automation::append_transcript_line("automation-failure " + ::automation::quote(utf8_text));
    run_release_routine();
    abandon_heap();
    platform::end_process(kAutomationFailureExitCode);
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
    if (count < 0 || count > kMaxDllArguments)
        fatal("A DLL call passes " + std::to_string(count) + " arguments; at most " +
              std::to_string(kMaxDllArguments) + " are supported.");
    // What the arguments point to is the called function's business; the
    // list of them the runtime reads itself.
    if (count > 0 && !memory_.holds(arguments, static_cast<size_t>(count) * sizeof(intptr_t)))
        fatal("The arguments of the call of " + declaration.function +
              " do not lie inside the program's memory.");
    const DllCallResult result =
        call_dll_function(static_cast<uintptr_t>(address), arguments, count);
    if (!result.balanced)
        runtime_error(RT_ERROR_STACK_UNBALANCED);
    return result.value;
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
    // The library reads the block through the same checks (LibraryArguments);
    // the block itself must be the program's before the library reads it.
    if (arguments != nullptr &&
        (!memory_.holds(arguments, sizeof arguments->count) ||
         !memory_.holds(arguments, offsetof(RtArgumentBlock, arguments) +
                                       size_t{arguments->count} * sizeof(RtArgument))))
        fatal("The argument block of the command " + std::to_string(command) + " of the library " +
              bound_->model.libraries[static_cast<size_t>(position)].name +
              " does not lie inside the program's memory.");
    static const RtKernelServices services = {
        [](uint32_t size) { return Runtime::instance().heap_new(size); },
        [](void* block) { Runtime::instance().heap_free(block); },
        [](const void* text) { return Runtime::instance().memory().text_length(text); },
        [](const void* array) { return Runtime::instance().memory().byte_array_length(array); },
        [](const char* text) { Runtime::instance().fatal(text); },
    };
    return entry(command, arguments, &services);
}

int64_t Runtime::kernel_command(int32_t command, const RtArgumentBlock* arguments) {
    const KernelCommand* known = find_kernel_command(command);
    if (known == nullptr)
        fatal("Unknown kernel command " + std::to_string(command) + ".");
    return known->run(Arguments(*this, command, arguments, known->arguments, known->more));
}

intptr_t Runtime::new_text(std::string_view text) {
    auto* block = static_cast<char*>(heap_new(static_cast<uint32_t>(text.size() + 1)));
    // An empty view may have no data at all.
    if (!text.empty())
        std::memcpy(block, text.data(), text.size());
    return reinterpret_cast<intptr_t>(block);
}

intptr_t Runtime::new_byte_array(std::span<const uint8_t> bytes) {
    if (bytes.size() > UINT32_MAX - sizeof(RtArrayHeader))
        fatal("Out of memory.");
    auto* block = static_cast<uint8_t*>(
        heap_new(static_cast<uint32_t>(sizeof(RtArrayHeader) + bytes.size())));
    const RtArrayHeader header{1, static_cast<uint32_t>(bytes.size())};
    std::memcpy(block, &header, sizeof header);
    if (!bytes.empty())
        std::memcpy(block + sizeof header, bytes.data(), bytes.size());
    return reinterpret_cast<intptr_t>(block);
}

int64_t Runtime::get_property(uint32_t window, uint32_t unit, int32_t property, int32_t index) {
    return windows().get_property(window, unit, property, index);
}

void Runtime::set_property(uint32_t window, uint32_t unit, int32_t property, int32_t index,
                           int64_t value) {
    windows().set_property(window, unit, property, index, value);
}

void* Runtime::heap_new(uint32_t size) {
    void* block = std::calloc(1, size == 0 ? 1 : size);
    if (block == nullptr)
        fatal("Out of memory.");
    memory_.add_block(block, size == 0 ? 1 : size);
    return block;
}

void* Runtime::heap_resize(void* block, uint32_t size) {
    if (block == nullptr)
        return heap_new(size);
    if (!memory_.remove_block(block))
        fatal("The program resized a block that is not on the runtime's heap.");
    void* resized = std::realloc(block, size == 0 ? 1 : size);
    if (resized == nullptr) {
        memory_.add_block(block, 0);  // still the program's, but its size is unknown now
        fatal("Out of memory.");
    }
    memory_.add_block(resized, size == 0 ? 1 : size);
    return resized;
}

void Runtime::heap_free(void* block) {
    if (block == nullptr)
        return;
    if (!memory_.remove_block(block))
        fatal("The program released a block that is not on the runtime's heap.");
    std::free(block);
}

void Runtime::exit(int32_t code) {
    run_release_routine();
    ::automation::append_transcript_line("end " + std::to_string(code));
    platform::end_process(code);
}

ui::WindowSystem& Runtime::windows() {
    if (!windows_)
        fatal("The program uses its windows before it runs.");
    return *windows_;
}

void Runtime::load_window(uint32_t id) {
    windows().load(id);
}

void Runtime::serve_events() {
    windows().serve_events();
}

void Runtime::run_handler(uint32_t code_offset) {
    reinterpret_cast<RtEventHandler>(
        static_cast<uintptr_t>(bound_->code_offset_address(code_offset)))();
}

void Runtime::run_mouse_handler(uint32_t code_offset, int32_t x, int32_t y, int32_t keys) {
    reinterpret_cast<RtMouseHandler>(
        static_cast<uintptr_t>(bound_->code_offset_address(code_offset)))(x, y, keys);
}

intptr_t Runtime::service(int32_t number, intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    const RuntimeService* known = find_runtime_service(number);
    if (known == nullptr)
        fatal("Unknown runtime service " + std::to_string(number) + ".");
    // The four values as a block typed by the service's entry, so that they
    // pass the checks a kernel command's arguments pass.
    struct {
        uint32_t count = 4;
        RtArgument arguments[4];
    } block;
    const intptr_t values[4] = {a, b, c, d};
    for (size_t i = 0; i < 4; ++i) {
        const auto value = static_cast<uint64_t>(static_cast<uintptr_t>(values[i]));
        block.arguments[i] = {static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32),
                              known->types[i]};
    }
    static_assert(sizeof block == offsetof(RtArgumentBlock, arguments) + 4 * sizeof(RtArgument));
    const auto* arguments = reinterpret_cast<const RtArgumentBlock*>(&block);
    return static_cast<intptr_t>(
        known->run(Arguments(*this, Callee{"runtime service", number, known->name}, arguments)));
}

}  // namespace kernel
