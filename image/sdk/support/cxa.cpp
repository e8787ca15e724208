// Destructors of static objects are never run: the program ends through the
// exit slot, and what globals hold is released by app_release_globals.
extern "C" {
void* __dso_handle = nullptr;
int __cxa_atexit(void (*)(void*), void*, void*) {
    return 0;
}
}
