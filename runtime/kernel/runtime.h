// The kernel library's state for the one program it runs: the bound image,
// its support libraries, its windows, the release routine; and what each
// slot does.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "image/bind/binder.h"
#include "runtime/contract/runtime_abi.h"

namespace kernel {

class Runtime {
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
    int64_t get_property(uint32_t window, uint32_t unit, int32_t property);
    void set_property(uint32_t window, uint32_t unit, int32_t property, int64_t value);
    void* heap_new(uint32_t size);
    void* heap_resize(void* block, uint32_t size);
    void heap_free(void* block);
    [[noreturn]] void exit(int32_t code);
    void serve_events();
    void load_window(uint32_t window);
    intptr_t service(int32_t number, intptr_t a, intptr_t b, intptr_t c, intptr_t d);

    // Shows the message and ends the program (release routine included).
    [[noreturn]] void fatal(const std::string& gbk_text);

    // For the binding host.
    std::vector<void*>& libraries() { return libraries_; }

  private:
    Runtime() = default;
    void run_release_routine();
    const image::Window* find_window(uint32_t id) const;

    std::optional<image::BoundImage> bound_;
    std::vector<void*> libraries_;  // by list position; the kernel's own is null
    RtReleaseRoutine release_ = nullptr;
    std::vector<uint32_t> open_windows_;
    std::map<std::pair<uint64_t, int32_t>, int64_t> numbers_;  // (window << 32 | unit, property)
    std::map<uint64_t, std::string> texts_;                    // window << 32 | unit
    // Every heap block the program holds: releasing anything else is an
    // error, and what a fatal end leaves behind is given back.
    std::unordered_set<void*> heap_blocks_;
};

}  // namespace kernel
