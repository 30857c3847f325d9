#include "platform/AtomicFile.h"

#include <errno.h>
#include <windows.h>

#include <algorithm>
#include <atomic>

namespace platform {
namespace {

std::atomic<AtomicWriteHook> g_writeHook{nullptr};

// How long a replacing move waits for other holders of the target: five
// seconds. Writers that replace one file back to back keep each other's
// moves failing for a while; a short budget lost writes under such load.
constexpr int kMoveAttempts = 1000;
constexpr DWORD kMoveRetryMs = 5;

int ErrnoFromWindowsError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
            return EBUSY;
        case ERROR_LOCK_VIOLATION:
            return EDEADLK;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        default:
            return EIO;
    }
}

int LastErrno() { return ErrnoFromWindowsError(GetLastError()); }

// Closes the handle on every way out.
class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (Valid()) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    int Close() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) ? 0 : LastErrno();
    }

  private:
    HANDLE handle_;
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {
    // Unique among processes by the id, within one by the counter.
    static std::atomic<unsigned> counter{0};
    temporary_ = target_ + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(counter.fetch_add(1));
}

AtomicFile::~AtomicFile() {
    if (!committed_) DeleteFileA(temporary_.c_str());
}

int AtomicFile::Write(const std::string& content, Access) {
    // CREATE_ALWAYS: a leftover of a crashed process that had the same id goes.
    FileHandle file(CreateFileA(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return LastErrno();
    size_t written = 0;
    while (written < content.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - written, 1u << 30));
        DWORD done = 0;
        if (!WriteFile(file.Get(), content.data() + written, chunk, &done, nullptr))
            return LastErrno();
        written += done;
    }
    if (!FlushFileBuffers(file.Get())) return LastErrno();
    if (int error = file.Close()) return error;
    synced_ = true;
    return 0;
}

int AtomicFile::Commit(Existing existing) {
    if (!synced_) {
        FileHandle file(CreateFileA(temporary_.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid() || !FlushFileBuffers(file.Get())) return LastErrno();
        synced_ = true;
    }
    if (AtomicWriteHook hook = g_writeHook.load()) hook(target_);
    // Write-through returns once the new name is on the disk; without
    // replacing, an existing target makes the move fail instead.
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    if (existing == Existing::Replace) flags |= MOVEFILE_REPLACE_EXISTING;
    // Windows refuses to replace a file while another handle has it open or
    // another move onto it is under way; such holders let go within moments.
    for (int attempt = 1; !MoveFileExA(temporary_.c_str(), target_.c_str(), flags); ++attempt) {
        DWORD error = GetLastError();
        bool transient = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
        if (!transient || existing == Existing::Keep || attempt == kMoveAttempts)
            return ErrnoFromWindowsError(error);
        Sleep(kMoveRetryMs);
    }
    committed_ = true;
    return 0;
}

int ReadWholeFile(const std::string& path, std::string& content) {
    // Sharing deletion lets a writer move its file onto this name meanwhile.
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return LastErrno();
    content.clear();
    char buffer[16384];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr)) return LastErrno();
        if (n == 0) return 0;
        content.append(buffer, n);
    }
}

int MakeDirectories(const std::string& path) {
    if (path.empty()) return ENOENT;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos < path.size() && !IsSeparator(path[pos])) continue;
        std::string prefix = path.substr(0, pos);
        if (prefix.back() == ':' || IsDirectory(prefix)) continue;  // drives, folders there already
        if (!CreateDirectoryA(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return LastErrno();
    }
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastErrno();
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ENOTDIR;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

void SetAtomicWriteHook(AtomicWriteHook hook) { g_writeHook.store(hook); }

}  // namespace platform
