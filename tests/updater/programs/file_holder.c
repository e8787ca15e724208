/* Holds one file open as another running program would, while the updater
 * replaces it:
 *
 *   file_holder.exe MODE FILE READY STOP
 *
 * MODE "read-write": opened for reading, others may read and write but not
 * delete or rename it (a running game's data file). MODE "delete": the same
 * with FILE_SHARE_DELETE, so that it may be renamed while open. Once FILE is
 * open, READY is written; the file stays open until STOP exists (or two
 * minutes have passed, so that a test that went wrong leaves nothing
 * running). Exit code 0 when the file was held, 2 when it could not be
 * opened, 1 for a bad command line. */
#include <windows.h>

#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 5)
        return 1;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (wcscmp(argv[1], L"delete") == 0)
        share |= FILE_SHARE_DELETE;
    else if (wcscmp(argv[1], L"read-write") != 0)
        return 1;
    HANDLE held = CreateFileW(argv[2], GENERIC_READ, share, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (held == INVALID_HANDLE_VALUE)
        return 2;
    HANDLE ready = CreateFileW(argv[3], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (ready == INVALID_HANDLE_VALUE)
        return 2;
    CloseHandle(ready);
    for (int waited = 0; waited < 1200; ++waited) {
        if (GetFileAttributesW(argv[4]) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(100);
    }
    CloseHandle(held);
    return 0;
}
