#include "posix/AtomicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

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
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
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

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The rename is durable only once the directory entry is on disk.
void SyncDirectory(const std::string& path) {
    FileDescriptor dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) ::fsync(dir.Get());
}

}  // namespace

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

int WriteFileAtomically(const std::string& path, const std::string& content) {
    std::string temporary = path + ".tmp-" + std::to_string(::getpid()) + "-XXXXXX";
    FileDescriptor fd(::mkstemp(&temporary[0]));
    if (fd.Get() < 0) return errno;
    int error = WriteAll(fd.Get(), content);
    if (error == 0 && ::fsync(fd.Get()) != 0) error = errno;
    if (error == 0 && ::close(fd.Release()) != 0) error = errno;
    if (error == 0) {
        if (AtomicWriteHook hook = g_writeHook.load()) hook(path);
        if (::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    SyncDirectory(path);
    return 0;
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

void SetAtomicWriteHook(AtomicWriteHook hook) { g_writeHook.store(hook); }

}  // namespace platform
