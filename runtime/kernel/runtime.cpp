#include "runtime/kernel/runtime.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/automation/transcript.h"
#include "common/base/hex.h"
#include "runtime/kernel/automation/driver.h"
#include "runtime/kernel/automation/script.h"
#include "runtime/kernel/automation/script_source.h"
#include "runtime/kernel/dll_call.h"
#include "runtime/kernel/image_location.h"
#include "runtime/kernel/kernel_host.h"
#include "runtime/kernel/platform.h"
#include "runtime/kernel/ui/headless.h"

namespace kernel {

namespace {

// The exit code of a run whose script could not take the user's part.
constexpr int kAutomationFailureExitCode = 3;

// The arguments of a kernel command, each checked for its type; a program
// that passes others ends with a message naming the command.
class Arguments {
  public:
    Arguments(Runtime& runtime, int32_t command, const RtArgumentBlock* block, uint32_t count)
        : runtime_(runtime), command_(command), block_(block) {
        const uint32_t given = block != nullptr ? block->count : 0;
        if (given != count)
            runtime.fatal("The kernel command " + std::to_string(command) + " takes " +
                          std::to_string(count) + " argument(s), not " + std::to_string(given) +
                          ".");
    }

    int32_t integer(size_t i) const {
        return static_cast<int32_t>(of_type(i, RT_TYPE_INT32, "an integer").low);
    }
    // Windows are named by their identifiers, passed as integers.
    uint32_t window(size_t i) const { return static_cast<uint32_t>(integer(i)); }
    // A GBK text; a null address is the empty text.
    std::string text(size_t i) const {
        const RtArgument& a = of_type(i, RT_TYPE_TEXT, "a text");
        const char* address =
            reinterpret_cast<const char*>(static_cast<uintptr_t>(a.low | uint64_t{a.high} << 32));
        return address != nullptr ? address : "";
    }
    // A unit: low holds its window, high the unit, type its type reference.
    RtArgument unit(size_t i) const {
        const RtArgument& a = block_->arguments[i];
        if ((a.type & 0x80000000u) != 0 || RT_TYPE_LIBRARY(a.type) == 0)
            wrong(i, "a unit");
        return a;
    }

  private:
    const RtArgument& of_type(size_t i, uint32_t type, const char* what) const {
        const RtArgument& a = block_->arguments[i];
        if (a.type != type)
            wrong(i, what);
        return a;
    }
    [[noreturn]] void wrong(size_t i, const char* what) const {
        runtime_.fatal("Argument " + std::to_string(i + 1) + " of the kernel command " +
                       std::to_string(command_) + " is not " + what + ".");
    }

    Runtime& runtime_;
    int32_t command_;
    const RtArgumentBlock* block_;
};

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
    auto windows = ui::WindowSystem::create(bound_->model.windows, *this);
    if (windows.is_error())
        fatal("The program image is invalid: " + windows.error());
    windows_ = windows.release_value();

    // The user's part comes from the script; without one, nobody takes it:
    // the same as a script that has ended.
    auto source = automation::read_script_source();
    if (source.is_error())
        automation_failure(source.error());
    auto steps = automation::parse_script(source.value().value_or(std::string()));
    if (steps.is_error())
        automation_failure("the script's " + steps.error());
    windows_->set_user_interface(std::make_unique<ui::HeadlessInterface>(
        automation::ScriptDriver(steps.release_value()), *this));

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
    for (void* block : heap_blocks_)
        std::free(block);
    heap_blocks_.clear();
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
    static const RtKernelServices services = {
        [](uint32_t size) { return Runtime::instance().heap_new(size); },
        [](void* block) { Runtime::instance().heap_free(block); },
    };
    return entry(command, arguments, &services);
}

int64_t Runtime::kernel_command(int32_t command, const RtArgumentBlock* arguments) {
    switch (command) {
        case RT_KERNEL_MESSAGE_BOX: {
            Arguments a(*this, command, arguments, 3);
            const int32_t style = a.integer(1);
            ui::MessageBoxRequest request;
            request.text = a.text(0);
            request.icon = style & ~0x0F;
            request.buttons = style & 0x0F;
            request.title = a.text(2);
            return windows().message_box(request);
        }
        case RT_KERNEL_LOAD_WINDOW_MODAL: {
            Arguments a(*this, command, arguments, 1);
            windows().load_modal(a.window(0));
            return 0;
        }
        case RT_KERNEL_CLOSE_WINDOW: {
            Arguments a(*this, command, arguments, 1);
            windows().close(a.window(0));
            return 0;
        }
        case RT_KERNEL_INSERT_ITEM: {
            Arguments a(*this, command, arguments, 3);
            const RtArgument unit = a.unit(0);
            return windows().insert_item(unit.low, unit.high, a.text(1), a.integer(2));
        }
        case RT_KERNEL_REMOVE_ITEM: {
            Arguments a(*this, command, arguments, 2);
            const RtArgument unit = a.unit(0);
            windows().remove_item(unit.low, unit.high, a.integer(1));
            return 0;
        }
        case RT_KERNEL_CLEAR_ITEMS: {
            Arguments a(*this, command, arguments, 1);
            const RtArgument unit = a.unit(0);
            windows().clear_items(unit.low, unit.high);
            return 0;
        }
    }
    fatal("Unknown kernel command " + std::to_string(command) + ".");
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

intptr_t Runtime::service(int32_t number, intptr_t a, intptr_t b, intptr_t, intptr_t d) {
    switch (number) {
        case RT_SERVICE_FIND_FILE: {
            // a: the pattern (a GBK text), or 0 to go on with the search that
            // the variable at d holds; b: the attribute filter. Gives the
            // next name as a new heap text, empty when the search is done.
            auto* state = reinterpret_cast<uint32_t*>(d);
            if (state == nullptr)
                fatal("A file search was asked for without its search variable.");
            if (a != 0) {
                searches_.end(*state);
                *state =
                    searches_.start(reinterpret_cast<const char*>(a), static_cast<uint32_t>(b));
            }
            const std::string name = searches_.next(*state).value_or(std::string());
            if (name.empty())
                *state = 0;
            auto* text = static_cast<char*>(heap_new(static_cast<uint32_t>(name.size() + 1)));
            std::memcpy(text, name.c_str(), name.size() + 1);
            return reinterpret_cast<intptr_t>(text);
        }
        case RT_SERVICE_END_FIND: {
            auto* state = reinterpret_cast<uint32_t*>(a);
            if (state != nullptr) {
                searches_.end(*state);
                *state = 0;
            }
            return 0;
        }
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
