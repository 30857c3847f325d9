#pragma once
// Whole-file reads and crash-safe replacement, for the stores kept in files.

#include <cstdint>
#include <string>

namespace platform {

// Reads the file into content. Returns 0, or the errno of the failure
// (ENOENT when it does not exist).
int ReadWholeFile(const std::string& path, std::string& content);

// Replaces path by content so that any reader, even after a crash, sees
// either the old or the new file whole: a temporary file in the same
// directory is written and synced, then renamed over path, then the
// directory is synced. Returns 0 or the errno of the failing step; the
// temporary file is removed on failure.
int WriteFileAtomically(const std::string& path, const std::string& content);

// Creates the directory and its missing parents. Returns 0 or an errno.
int MakeDirectories(const std::string& path);

// For tests: called with the target path after the temporary file is synced
// and before it is renamed into place. Null removes the hook.
using AtomicWriteHook = void (*)(const std::string& path);
void SetAtomicWriteHook(AtomicWriteHook hook);

}  // namespace platform
