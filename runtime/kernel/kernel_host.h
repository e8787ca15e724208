#pragma once

#include "image/bind/native_memory.h"

namespace kernel {

class Runtime;

// Binding for real: native memory, the kernel's slots, support libraries
// from the runtime folder, DLL declarations from the system.
class KernelHost final : public image::NativeMemoryHost {
  public:
    explicit KernelHost(Runtime& runtime) : runtime_(runtime) {}

    uint64_t slot(size_t index) override;
    bool load_library(const image::LibraryEntry& library, size_t position) override;
    std::optional<uint64_t> resolve_dll(const image::DllDeclaration& declaration) override;
    // The kernel keeps the values as the image stores them.
    std::optional<uint32_t> rewrite_identifier(uint32_t id) override { return id; }
    std::optional<uint32_t> rewrite_dll_number(uint32_t number) override { return number; }
    std::optional<uint32_t> rewrite_library_position(uint32_t position) override {
        return position;
    }
    std::optional<uint32_t> rewrite_type_reference(uint32_t type) override { return type; }

  private:
    Runtime& runtime_;
};

// Address of the DLL function, 0 when this system has none (calling it is
// then a clear error); one implementation per system.
uint64_t resolve_system_function(const image::DllDeclaration& declaration);

}  // namespace kernel
