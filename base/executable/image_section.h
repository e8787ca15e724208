#pragma once

namespace loader {

// The section of a program's executable that carries its program image, in
// ELF and PE files alike. Its placement is found through the section table,
// never from the stub's own size.
inline constexpr char kImageSectionName[] = ".image";

}  // namespace loader
