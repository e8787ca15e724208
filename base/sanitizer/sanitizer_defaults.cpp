// Built into every executable of the sanitized native build (and only
// there): the defaults the address sanitizer starts with, before the
// environment's ASAN_OPTIONS, which still override them.
//
// The programs load the kernel library with dlopen, and with it libcurl's
// chain of system libraries, some of which keep thread-local variables
// (libgnutls: 16 bytes, libcom_err: 25 bytes). glibc gives such a module's
// thread storage a block from malloc, which here is the sanitizer's heap.
// The sanitizer in use watches __tls_get_addr to learn these blocks, and it
// guesses their extent: a block that begins 16 bytes into a page is taken
// to follow a header of glibc's {size, start}. A small block of its own heap
// begins 16 bytes into a page whenever the allocation history puts it there
// (one slot in 128 of the 32-byte class; a longer environment, another
// folder name or one more file moves it), and the 16 bytes before it are the
// heap's own chunk header. The leak check at exit then scans a range made of
// those bytes and its tracer dies on signal 11: exit status 1 after a clean
// end.
//
// Without the watch no range is guessed, and nothing reachable is lost:
// each such block is an ordinary heap block that glibc's table of thread
// storage points to, so the leak check reaches it, and what it points to,
// like any other heap block.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}
