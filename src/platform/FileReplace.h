#pragma once
// What it takes to replace a file so that readers see the old one or the new
// one whole, never a mixture: the new content goes to a temporary file beside
// the target, reaches the disk, then takes the target's name in one step.

#include <cstdio>
#include <string>

namespace platform {

// Pushes a stream's buffered data through to the disk. May block on the disk.
// Returns 0 or the errno of the failure. Thread-safe for distinct streams.
int SyncFile(std::FILE* file);

// Gives source the name target in one step; an existing target is replaced.
// May block on the disk. Returns 0 or an errno (EACCES, ENOENT, ...); on
// failure both files are left as they were.
int RenameOver(const std::string& source, const std::string& target);

}  // namespace platform
