// The kernel library's state for the one program it runs: the bound image,
// its support libraries, its windows, the release routine; and what each
// slot does.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "contract/runtime_abi.h"
#include "image/bind/binder.h"
#include "runtime/kernel/program_memory.h"
#include "runtime/kernel/services/file_search.h"
#include "runtime/kernel/ui/window_system.h"

namespace kernel {

class Runtime final : public ui::Host {
  public:
    static Runtime& instance();

    // The hand-off: binds the image and runs its start routine. Returns
    // only if the start routine returns.
    void run(const void* image);

    // ---- slots ----
    [[noreturn]] void runtime_error(int32_t code);
    intptr_t dll_call(int32_t number, int32_t count, const intptr_t* arguments);
    int64_t library_command(int32_t position, int32_t command, const RtArgumentBlock* arguments);
    int64_t kernel_command(int32_t command, const RtArgumentBlock* arguments);
    int64_t get_property(uint32_t window, uint32_t unit, int32_t property, int32_t index);
    void set_property(uint32_t window, uint32_t unit, int32_t property, int32_t index,
                      int64_t value);
    void* heap_new(uint32_t size) override;
    void* heap_resize(void* block, uint32_t size);
    void heap_free(void* block);
    [[noreturn]] void exit(int32_t code);
    void serve_events();
    void load_window(uint32_t window);
    intptr_t service(int32_t number, intptr_t a, intptr_t b, intptr_t c, intptr_t d);

    // Shows the message and ends the program (release routine included).
    [[noreturn]] void fatal(const std::string& gbk_text) override;

    // ---- for the window system ----
    int64_t text_length(const void* text) const override { return memory_.text_length(text); }
    int64_t byte_array_length(const void* array) const override {
        return memory_.byte_array_length(array);
    }
    void run_handler(uint32_t code_offset) override;
    void run_mouse_handler(uint32_t code_offset, int32_t x, int32_t y, int32_t keys) override;
    [[noreturn]] void automation_failure(const std::string& utf8_text) override;
    [[noreturn]] void end_program() override { exit(0); }

    // For the binding host.
    std::vector<void*>& libraries() { return libraries_; }

    // ---- for the commands ----
    ui::WindowSystem& windows();
    const ProgramMemory& memory() const { return memory_; }
    // New heap blocks that the program takes over, as a command returns
    // them: a zero-terminated text, a byte array.
    intptr_t new_text(std::string_view text);
    intptr_t new_byte_array(std::span<const uint8_t> bytes);
    // ---- for the runtime services ----
    FileSearches& searches() { return searches_; }
    void set_release_routine(RtReleaseRoutine routine) { release_ = routine; }

  private:
    Runtime() = default;
    void run_release_routine();
    // Gives back every block the program still holds: it stops in the middle
    // of what it did, so they are abandoned, not leaked.
    void abandon_heap();

    std::optional<image::BoundImage> bound_;
    std::vector<void*> libraries_;  // by list position; the kernel's own is null
    RtReleaseRoutine release_ = nullptr;
    std::unique_ptr<ui::WindowSystem> windows_;
    // The image and every heap block the program holds: releasing anything
    // else is an error, and what a fatal end leaves behind is given back.
    ProgramMemory memory_;
    FileSearches searches_;
};

}  // namespace kernel
