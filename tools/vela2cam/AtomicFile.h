#pragma once
// Files the tool writes appear whole or not at all: they are written under a
// temporary name in the same directory, flushed to disk and renamed.

#include <cstdint>
#include <string>
#include <vector>

namespace vela2cam {

class AtomicFile {
  public:
    explicit AtomicFile(std::string finalPath);
    ~AtomicFile();  // removes the temporary file unless Commit succeeded
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Where to write the content before Commit.
    const std::string& temporaryPath() const { return temporaryPath_; }
    // Flushes the temporary file, renames it to the final name and flushes
    // the directory so the rename survives a crash. False with a message.
    bool Commit(std::string& error);

  private:
    std::string finalPath_;
    std::string temporaryPath_;
    bool committed_ = false;
};

// The bytes as the whole content of path, written atomically.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& error);
// The whole content of path; false with a message when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// Whether anything exists at path.
bool FileExists(const std::string& path);
// The directory part of a path ("." when there is none).
std::string DirectoryOf(const std::string& path);
// Creates the directory and its parents when missing.
bool MakeDirectories(const std::string& path, std::string& error);

}  // namespace vela2cam
