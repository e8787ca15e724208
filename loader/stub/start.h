#pragma once

namespace loader {

// The whole start of a program: unpack the runtime, load the kernel library
// and hand it the program image. Returns when the program has ended or after
// the failure has been reported; the process then exits with code 0.
void start_program();

}  // namespace loader
