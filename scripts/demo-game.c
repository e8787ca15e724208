/* The demo's stand-in for the game client "wow.exe" (Windows): it records
 * that it was started, and in which folder, in "started.log" beside itself,
 * and ends. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(void) {
    char self[MAX_PATH], folder[MAX_PATH], log[MAX_PATH + 16];
    if (GetModuleFileNameA(NULL, self, MAX_PATH) == 0 || strrchr(self, '\\') == NULL)
        return 1;
    GetCurrentDirectoryA(MAX_PATH, folder);
    strcpy(log, self);
    strcpy(strrchr(log, '\\') + 1, "started.log");
    FILE* out = fopen(log, "a");
    if (out == NULL)
        return 1;
    fprintf(out, "%s started in %s\n", strrchr(self, '\\') + 1, folder);
    fclose(out);
    return 0;
}
