// The process entry of every program: the loader stub.
#include "loader/stub/start.h"

#ifdef _WIN32
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    loader::start_program();
    return 0;
}
#else
int main() {
    loader::start_program();
    return 0;
}
#endif
