#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vela2cam {

namespace {

std::string ErrorText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool SyncPath(const std::string& path, int flags, std::string& error) {
    FileDescriptor fd(::open(path.c_str(), flags | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
        error = ErrorText("cannot flush", path);
        return false;
    }
    return true;
}

}  // namespace

AtomicFile::AtomicFile(std::string finalPath) : finalPath_(std::move(finalPath)) {
    // Unique within the process too: several files may be in flight at once.
    static std::atomic<unsigned> counter{0};
    temporaryPath_ = finalPath_ + ".tmp-" + std::to_string(::getpid()) + "-" +
                     std::to_string(counter.fetch_add(1));
}

AtomicFile::~AtomicFile() {
    if (!committed_) std::remove(temporaryPath_.c_str());
}

bool AtomicFile::Commit(std::string& error) {
    if (!SyncPath(temporaryPath_, O_RDONLY, error)) return false;
    if (std::rename(temporaryPath_.c_str(), finalPath_.c_str()) != 0) {
        error = ErrorText("cannot rename to", finalPath_);
        return false;
    }
    committed_ = true;
    return SyncPath(DirectoryOf(finalPath_), O_RDONLY | O_DIRECTORY, error);
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& error) {
    AtomicFile file(path);
    FileDescriptor fd(
        ::open(file.temporaryPath().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        error = ErrorText("cannot create", file.temporaryPath());
        return false;
    }
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = ErrorText("cannot write", file.temporaryPath());
            return false;
        }
        written += static_cast<size_t>(n);
    }
    if (!fd.Close()) {
        error = ErrorText("cannot close", file.temporaryPath());
        return false;
    }
    return file.Commit(error);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        error = ErrorText("cannot open", path);
        return false;
    }
    bytes.clear();
    uint8_t chunk[4096];
    for (;;) {
        ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = ErrorText("cannot read", path);
            return false;
        }
        if (n == 0) return true;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool MakeDirectories(const std::string& path, std::string& error) {
    if (path.empty()) return true;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return true;
        errno = ENOTDIR;
        error = ErrorText("cannot use directory", path);
        return false;
    }
    std::string parent = DirectoryOf(path);
    if (parent != path && parent != "." && parent != "/" && !MakeDirectories(parent, error))
        return false;
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        error = ErrorText("cannot create directory", path);
        return false;
    }
    return true;
}

}  // namespace vela2cam
