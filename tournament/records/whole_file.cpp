#include "tournament/records/whole_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "util/whole_file.hpp"

namespace nimbus::tournament {

namespace {

// Reads at most `limit` bytes of a regular file, from its end when `tail`.
FileText readRegular(const std::filesystem::path& path, std::size_t limit, bool tail) {
    FileText file;
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    // A tail is of a log: never through a symbolic link to some other file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (tail ? O_NOFOLLOW : 0));
    if (fd < 0) {
        file.exists = errno != ENOENT;
        file.problem = std::strerror(errno);
        return file;
    }
    file.exists = true;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        file.problem = "not a regular file";
    } else if (static_cast<std::size_t>(info.st_size) > limit && !tail) {
        file.problem = "larger than " + std::to_string(limit) + " bytes";
    } else {
        const auto whole = static_cast<std::size_t>(info.st_size);
        const std::size_t skip = whole > limit ? whole - limit : 0;
        file.text.resize(whole - skip);
        std::size_t got = 0;
        while (got < file.text.size()) {
            const ssize_t n = ::pread(fd, file.text.data() + got, file.text.size() - got,
                                      static_cast<off_t>(skip + got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        file.text.resize(got);
    }
    ::close(fd);
    return file;
}

}  // namespace

FileText readWholeFile(const std::filesystem::path& path, std::size_t limit) {
    return readRegular(path, limit, false);
}

FileText readFileTail(const std::filesystem::path& path, std::size_t bytes) {
    return readRegular(path, bytes, true);
}

void writeWhole(const std::filesystem::path& path, const std::string& text) {
    if (const util::FileError error = util::writeWhole(path.string(), text); error.failed()) {
        throw std::runtime_error(error.message);
    }
}

}  // namespace nimbus::tournament
