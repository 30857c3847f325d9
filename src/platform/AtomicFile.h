#pragma once
// Files that appear whole or not at all, even across a crash: the content is
// written under a temporary name beside the target, reaches the disk, then
// takes the target's name in one step. The library's stores and the
// command-line tool's output both go through here. Depends on nothing else of
// the library, so that programs outside it can link it alone.

#include <string>

namespace platform {

// What becomes of a file already at the target.
enum class Existing {
    Replace,
    Keep,  // the commit fails with EEXIST; of two racing commits exactly one wins
};

// Who may read a file created by AtomicFile::Write (POSIX modes; Windows
// files take the permissions of their folder).
enum class Access {
    Owner,     // 0600: settings and stores of one user
    Everyone,  // 0644 less the umask: pictures and other output
};

// One file on its way to its target. Not thread-safe; distinct objects are.
class AtomicFile {
  public:
    // Picks a temporary name beside target that no other writer uses.
    explicit AtomicFile(std::string target);
    // Removes the temporary file unless Commit succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Where a writer that opens files by name puts the content before Commit.
    const std::string& TemporaryPath() const { return temporary_; }

    // Creates the temporary file with content and flushes it to the disk.
    // Returns 0 or an errno.
    int Write(const std::string& content, Access access);

    // Flushes the temporary file (unless Write did), gives it the target's
    // name, then flushes the folder so the new name survives a crash. May
    // block on the disk. Returns 0 or an errno (EEXIST for Existing::Keep);
    // on failure the target is as it was.
    int Commit(Existing existing);

  private:
    std::string target_;
    std::string temporary_;
    bool synced_ = false;
    bool committed_ = false;
};

// Write and Commit in one. Returns 0 or the errno of the failing step.
int WriteFileAtomically(const std::string& path, const std::string& content,
                        Existing existing = Existing::Replace, Access access = Access::Owner);

// Reads the file into content. Returns 0, or an errno (ENOENT when missing).
int ReadWholeFile(const std::string& path, std::string& content);

// Creates the folder and its missing parents, for the owner only (0700 on
// POSIX): the library keeps a user's settings there, and a program that wants
// its output folder open to others can say so itself. Folders that exist
// keep their permissions. Returns 0 or an errno (ENOTDIR when path is a file).
int MakeDirectories(const std::string& path);

// The folder part of a path; "." when it has none.
std::string DirectoryOf(const std::string& path);

// For tests: called with the target after the temporary file reached the
// disk and before it takes the target's name. Null removes the hook.
using AtomicWriteHook = void (*)(const std::string& target);
void SetAtomicWriteHook(AtomicWriteHook hook);

}  // namespace platform
