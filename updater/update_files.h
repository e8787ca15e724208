// What the updater does with names and files of the installation: the check
// of names that come from the server, the installed manifest built from the
// files present, and the replacement of the listed files with a way back.
// Freestanding: for the updater's image.
#pragma once

#include <stdint.h>

#include "common/manifest/manifest.h"
#include "common/manifest/text_buffer.h"

namespace updater {

// The suffix of the old content kept beside a replaced file until the
// replacement is recorded; a digit follows when an older one of the same
// name, in use then, could not be removed yet.
inline constexpr char kAsideSuffix[] = ".update-old";

// Whether a listed entry of the downloaded manifest can be used as it is: the
// name a bare file name (not "up.dat"), the path "\" + folders + "\" + the
// name, every folder a plain name (no "..", drive, empty part, final dot or
// space, no device name such as "CON" or "nul.txt"), and not inside the work
// folder "\update\".
bool safe_entry(const char* name, const char* relative_path);

// The numeric value of a size text: its leading decimal digits (0 for none).
int64_t size_value(const char* text);

// Writes the installed manifest `folder` + "\up.dat" from the files below
// `folder` (no final separator), with the version "未知".
bool build_installed_manifest(const char* folder);

// Mends what an earlier replacement left, for every file that the installed
// manifest or a downloaded manifest left in the work folder lists: an aside
// whose target is missing (the replacement ended between the two renames of
// a file in use) goes back, every other aside is removed (what is still in
// use stays), and the runtime's temporaries of a copy cut short go from the
// folders of those files and of "up.dat".
void remove_moved_aside(const char* folder);

// One listed file to put in place: the unpacked file, its target, and what
// replace_files did for it, so that it can be taken back.
struct Replacement {
    const char* source = nullptr;  // the unpacked file in the work folder
    const char* target = nullptr;  // the installed file it replaces
    uint32_t root_length = 0;      // bytes of the updater folder at the start of `target`
    common::TextBuffer aside;      // where the old content is kept; empty when none
    common::TextBuffer created;    // the outermost folder made for the target; empty when none
};

// Puts every source over its target, each at once (a target holds its old
// or its whole new content at every moment, also when the process is
// killed; a new file is there whole or not at all). The old content of a
// target is first kept aside in its folder, and the folders of a new one are
// made, so every step can be taken back. When a step fails,
// every target already replaced gets its old file back (a new one and the
// folders made for it are removed) and the index of the failing entry is
// the result; -1 when all are in place.
int32_t replace_files(Replacement* files, int32_t count);

// Undoes a replace_files that succeeded (the manifest could not be recorded).
void undo_replacement(Replacement* files, int32_t count);

// Removes what was moved aside; what is still in use stays for a later start.
void finish_replacement(Replacement* files, int32_t count);

}  // namespace updater
