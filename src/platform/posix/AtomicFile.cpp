#include "platform/AtomicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace platform {
namespace {

std::atomic<AtomicWriteHook> g_writeHook{nullptr};

// Closes the descriptor on every way out.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    int Close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

  private:
    int fd_;
};

int WriteAll(int fd, const std::string& content) {
    size_t written = 0;
    while (written < content.size()) {
        ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        written += static_cast<size_t>(n);
    }
    return 0;
}

int SyncPath(const std::string& path, int flags) {
    FileDescriptor fd(::open(path.c_str(), flags | O_CLOEXEC));
    if (fd.Get() < 0 || ::fsync(fd.Get()) != 0) return errno;
    return 0;
}

int RenameKeeping(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != ENOTSUP) return errno;
#endif
    // Where the file system cannot rename without replacing, a hard link still
    // fails on an existing name, and only then does the temporary name go.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

}  // namespace

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {
    // Unique among processes by the id, within one by the counter.
    static std::atomic<unsigned> counter{0};
    temporary_ =
        target_ + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
}

AtomicFile::~AtomicFile() {
    if (!committed_) ::unlink(temporary_.c_str());
}

int AtomicFile::Write(const std::string& content, Access access) {
    const mode_t mode = access == Access::Owner ? 0600 : 0644;
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    int fd = ::open(temporary_.c_str(), flags, mode);
    // A leftover of a crashed process that had the same id.
    if (fd < 0 && errno == EEXIST && ::unlink(temporary_.c_str()) == 0)
        fd = ::open(temporary_.c_str(), flags, mode);
    FileDescriptor file(fd);
    if (file.Get() < 0) return errno;
    int error = WriteAll(file.Get(), content);
    if (error == 0 && ::fsync(file.Get()) != 0) error = errno;
    if (int closeError = file.Close(); error == 0) error = closeError;
    synced_ = error == 0;
    return error;
}

int AtomicFile::Commit(Existing existing) {
    if (!synced_) {
        if (int error = SyncPath(temporary_, O_RDONLY)) return error;
        synced_ = true;
    }
    if (AtomicWriteHook hook = g_writeHook.load()) hook(target_);
    if (existing == Existing::Keep) {
        if (int error = RenameKeeping(temporary_, target_)) return error;
    } else if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        return errno;
    }
    committed_ = true;
    // The new name is in place either way; a folder that cannot be flushed
    // (some network file systems refuse) does not undo it.
    SyncPath(DirectoryOf(target_), O_RDONLY | O_DIRECTORY);
    return 0;
}

int ReadWholeFile(const std::string& path, std::string& content) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) return errno;
    content.clear();
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        content.append(buffer, static_cast<size_t>(n));
    }
}

int MakeDirectories(const std::string& path) {
    if (path.empty()) return ENOENT;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos < path.size() && path[pos] != '/') continue;
        std::string prefix = path.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void SetAtomicWriteHook(AtomicWriteHook hook) { g_writeHook.store(hook); }

}  // namespace platform
