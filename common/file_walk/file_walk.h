// The file walker shared by the updater and the package generator: every
// file of a folder tree, a folder's own files before its subfolders, depth
// first, in the runtime's file search order. Window events that are pending
// are served before each subfolder (where the caller may end the walk), and
// the wait cursor shows while the subfolders are walked. Freestanding: for program images.
#pragma once

namespace common {

// Called for every file found: `folder` ends with a backslash, `name` is the
// bare file name. Both are the walker's and live only during the call.
using FileHandler = void (*)(void* context, const char* folder, const char* name);

// Asked after the pending events were served before a subfolder: true ends
// the walk there, with no more files handed over.
using WalkEnded = bool (*)(void* context);

// Walks `folder` (a backslash is added when it does not end with one) with
// the patterns of `patterns`, separated by "|" ("" means "*.*"), into its
// subfolders when `recurse` is set. `ended` may be null.
void walk_files(const char* folder, const char* patterns, bool recurse, FileHandler handler,
                void* context, WalkEnded ended = nullptr);

}  // namespace common
