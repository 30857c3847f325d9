#include "platform/FileReplace.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace platform {
namespace {
// The rename itself lives in the directory; it is durable once the directory is.
void SyncDirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = open(directory.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}
}  // namespace

int SyncFile(std::FILE* file) {
    if (std::fflush(file) != 0) return errno;
    if (fsync(fileno(file)) != 0) return errno;
    return 0;
}

int RenameOver(const std::string& source, const std::string& target) {
    if (std::rename(source.c_str(), target.c_str()) != 0) return errno;
    SyncDirectoryOf(target);
    return 0;
}

}  // namespace platform
