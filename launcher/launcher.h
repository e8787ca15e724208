// What the launcher's handlers share: the values kept for the run and the
// paths below the launcher folder (the game client's root folder, where the
// launcher's executable lies).
#pragma once

#include <stdint.h>

#include "common/manifest/text_buffer.h"
#include "rt/text.h"

namespace launcher {

using common::TextBuffer;

// The version this launcher is; the server's version text must equal it byte
// for byte.
inline constexpr char kVersion[] = "1.0";

inline constexpr char kSettingsFile[] = "\\wow.ini";
inline constexpr char kErrorTitle[] = "错误提示";

// Read once at the start and kept for the run.
struct Kept {
    rt::Text title;        // [Main] Title
    rt::Text version_url;  // [v] bb
    rt::Text second_url;   // [v] aa
};

Kept& kept();

// The launcher folder followed by `relative` ("\wow.exe").
void client_path(TextBuffer& out, const char* relative);

// A value of wow.ini, read afresh.
rt::Text setting(const char* section, const char* key);

}  // namespace launcher
