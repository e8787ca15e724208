// Opens its start window and ends: the start-up of a program with the kernel.
#include "rt/program.h"

extern "C" RT_CALL void on_window_created() {}
