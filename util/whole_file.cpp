#include "util/whole_file.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace nimbus::util {

namespace {

constexpr mode_t kMode = 0666;  // less the umask
constexpr int kNameTries = 100;

// "cannot STEP PATH: REASON", for errno (read before anything else can change it) or `code`.
FileError failure(const char* step, const std::string& path, int code = 0) {
    code = code != 0 ? code : errno;
    return {code, std::string("cannot ") + step + " " + path + ": " + std::strerror(code)};
}

OpenedFile failed(const std::string& path, FileError error) {
    OpenedFile file;
    file.path = path;
    file.error = std::move(error);
    return file;
}

// After a call that failed: whether to call again (a signal interrupted it, and keepWaiting says
// to go on waiting). errno stays the call's.
bool interrupted(const KeepWaiting& keepWaiting) {
    const int error = errno;
    const bool again = error == EINTR && keepWaiting && keepWaiting();
    errno = error;
    return again;
}

// The folder part of the path, with its slash ("" for a bare name), and the name.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string randomLetters() {
    std::uint32_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits) {
        static std::atomic<std::uint32_t> counter{0};
        bits = static_cast<std::uint32_t>(::getpid()) * 2654435761u + ++counter;
    }
    char text[9];
    for (int i = 0; i < 8; ++i) {
        text[i] = "0123456789abcdef"[(bits >> (4 * i)) & 15u];
    }
    text[8] = '\0';
    return text;
}

}  // namespace

bool writtenInPlace(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

OpenedFile createNew(const std::string& path) {
    OpenedFile file;
    file.path = path;
    file.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kMode);
    if (file.fd < 0) {
        file.error = failure("create", path);
    }
    return file;
}

FileError moveAside(const std::string& path, const std::string& to) {
    return ::rename(path.c_str(), to.c_str()) == 0 ? FileError{} : failure("rename", path + " to " + to);
}

OpenedFile createAnew(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) != 0) {
        OpenedFile file;
        file.path = path;
        file.error = failure("remove the old", path);
        return file;
    }
    return createNew(path);
}

OpenedFile createTemporaryBeside(const std::string& target) {
    const std::string stem = folderOf(target) + "." + nameOf(target) + ".";
    OpenedFile file;
    for (int i = 0; i < kNameTries; ++i) {
        file = createNew(stem + randomLetters() + ".tmp");
        if (file.fd >= 0 || file.error.code != EEXIST) {
            break;
        }
    }
    return file;
}

OpenedFile openInPlace(const std::string& path, const KeepWaiting& keepWaiting) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && interrupted(keepWaiting));
    if (fd < 0) {
        return failed(path, errno == EINTR
                                ? FileError{EINTR, "cannot open " + path +
                                                       ": interrupted while it waited for a reader"}
                                : failure("open", path));
    }
    // Checked on what was opened: a file put in the FIFO's place meanwhile is not written over.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return failed(path, {EEXIST, "cannot write " + path + " in place: not a FIFO or device"});
    }
    OpenedFile file;
    file.fd = fd;
    file.path = path;
    return file;
}

FileError writeAll(int fd, const void* data, std::size_t size, const std::string& name,
                   const KeepWaiting& keepWaiting) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            return failure("write", name, EIO);
        } else if (!interrupted(keepWaiting)) {
            return failure("write", name);
        }
    }
    return {};
}

FileError commit(int fd, const std::string& temp, const std::string& target) {
    FileError error;
    if (::fsync(fd) != 0) {
        error = failure("flush", temp);
    }
    if (::close(fd) != 0 && !error.failed()) {
        error = failure("close", temp);
    }
    if (!error.failed() && ::rename(temp.c_str(), target.c_str()) != 0) {
        const int code = errno;
        error = failure("rename", temp + " to " + target, code);
    }
    return error;
}

FileError writeWhole(const std::string& path, std::string_view text,
                     const KeepWaiting& keepWaiting) {
    if (writtenInPlace(path)) {
        const OpenedFile file = openInPlace(path, keepWaiting);
        if (file.fd < 0) {
            return file.error;
        }
        FileError error = writeAll(file.fd, text.data(), text.size(), path, keepWaiting);
        if (::close(file.fd) != 0 && !error.failed()) {
            error = failure("close", path);
        }
        return error;
    }
    const OpenedFile temp = createTemporaryBeside(path);
    if (temp.fd < 0) {
        return temp.error;
    }
    FileError error = writeAll(temp.fd, text.data(), text.size(), temp.path);
    if (error.failed()) {
        ::close(temp.fd);
    } else {
        error = commit(temp.fd, temp.path, path);
    }
    if (error.failed()) {
        ::unlink(temp.path.c_str());
    }
    return error;
}

}  // namespace nimbus::util
