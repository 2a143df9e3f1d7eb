#include "platform/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix_file_io.h"

namespace safe_files {

bool readPrivateFile(const std::string& path, uint64_t maxBytes, std::string& text,
                     std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = posix::systemError(path);
        return false;
    }
    struct stat status {};
    bool ok = fstat(fd, &status) == 0;
    if (!ok || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
        error = path + ": not a regular file of this user";
        ok = false;
    } else if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = path + ": its group or others may read or write it (chmod 600 it)";
        ok = false;
    } else {
        text.clear();
        switch (posix::readToEnd(fd, maxBytes, text, error)) {
            case posix::ReadToEnd::complete:
                break;
            case posix::ReadToEnd::tooLong:
                error = path + ": longer than " + std::to_string(maxBytes) + " bytes";
                ok = false;
                break;
            case posix::ReadToEnd::failed:
                error = path + ": " + error;
                ok = false;
                break;
        }
    }
    close(fd);
    return ok;
}

}  // namespace safe_files
