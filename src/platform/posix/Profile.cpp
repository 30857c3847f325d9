#include "platform/Profile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/AtomicFile.h"
#include "platform/IniFile.h"
#include "platform/SystemError.h"
#include "posix/ErrnoMapping.h"

namespace platform {
namespace {

std::mutex g_writeMutex;

// A file that is missing or cannot be read reads as an empty one.
IniFile Load(const char* file) {
    std::string text;
    if (file == nullptr || ReadWholeFile(file, text) != 0) text.clear();
    return IniFile(text);
}

// Holds an flock on the file as it is now. Writers replace the file by
// renaming, so the lock is retaken until it sits on the file the path names.
class FileLock {
  public:
    explicit FileLock(const char* path) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
            if (fd_ < 0) return;  // no file yet: nothing to share
            struct stat locked {
            }, named{};
            if (::flock(fd_, LOCK_EX) == 0 && ::fstat(fd_, &locked) == 0 &&
                ::stat(path, &named) == 0 && locked.st_ino == named.st_ino &&
                locked.st_dev == named.st_dev)
                return;
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_ = -1;
};

}  // namespace

uint32_t ProfileReadString(const char* section, const char* key, const char* def, char* buffer,
                           uint32_t size, const char* file) {
    if (buffer == nullptr || size == 0) return 0;
    std::string value;
    if (section == nullptr || key == nullptr || !Load(file).Find(section, key, value)) {
        value = def ? def : "";
        while (!value.empty() && value.back() == ' ') value.pop_back();
    } else {
        value = UnquoteProfileValue(value);
    }
    size_t length = std::min<size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    return static_cast<uint32_t>(length);
}

bool ProfileWriteString(const char* section, const char* key, const char* value, const char* file) {
    if (section == nullptr || file == nullptr || *file == '\0') {
        SetLastSystemError(kErrorInvalidParameter);
        return false;
    }
    std::lock_guard<std::mutex> guard(g_writeMutex);
    FileLock lock(file);
    IniFile ini = Load(file);
    if (key == nullptr) {
        ini.RemoveSection(section);
    } else if (value == nullptr) {
        ini.RemoveKey(section, key);
    } else {
        ini.Set(section, key, value);
    }
    if (int error = WriteFileAtomically(file, ini.Text())) {
        SetLastSystemError(WindowsErrorFromErrno(error));
        return false;
    }
    return true;
}

uint32_t ProfileSectionNames(char* buffer, uint32_t size, const char* file) {
    return PackProfileList(Load(file).SectionNames(), buffer, size);
}

uint32_t ProfileSection(const char* section, char* buffer, uint32_t size, const char* file) {
    std::vector<IniFile::Entry> entries;
    if (section) Load(file).Section(section, entries);
    std::vector<std::string> items;
    for (const IniFile::Entry& entry : entries)
        items.push_back(entry.hasValue ? entry.key + "=" + entry.value : entry.key);
    return PackProfileList(items, buffer, size);
}

}  // namespace platform

namespace platform {

bool ProfileFileExists(const char* file) {
    struct stat info {};
    return file != nullptr && ::stat(file, &info) == 0;
}

}  // namespace platform
