#include "arena/server/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace nimbus::arena {

namespace {

namespace fs = std::filesystem;

bool isSpecial(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

std::string folderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

std::string failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Writes everything to fd; returns "" or the reason.
std::string writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure("cannot write");
        }
        done += static_cast<std::size_t>(n);
    }
    return "";
}

}  // namespace

std::string whyNotWritable(const std::string& path) {
    if (path.empty()) {
        return "no file name";
    }
    if (isSpecial(path)) {
        return ::access(path.c_str(), W_OK) == 0 ? "" : failure("cannot write " + path);
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return path + " is a directory";
    }
    const std::string folder = folderOf(path);
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return "folder " + folder + " does not exist";
    }
    if (::access(folder.c_str(), W_OK) != 0) {
        return failure("cannot write in " + folder);
    }
    return "";
}

std::string removeStale(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) != 0) {
        return failure("cannot remove the old " + path);
    }
    return "";
}

std::string writeWhole(const std::string& path, const std::string& text) {
    if (isSpecial(path)) {
        // Opening a FIFO waits for its reader: a signal meanwhile must not lose the file.
        int fd = -1;
        do {
            fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            return failure("cannot open " + path);
        }
        std::string why = writeAll(fd, text);
        if (::close(fd) != 0 && why.empty()) {
            why = failure("cannot close " + path);
        }
        return why;
    }
    const fs::path target(path);
    const std::string temp = folderOf(path) + "/." + target.filename().string() + "." +
                             std::to_string(::getpid()) + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return failure("cannot create " + temp);
    }
    std::string why = writeAll(fd, text);
    if (why.empty() && ::fsync(fd) != 0) {
        why = failure("cannot flush " + temp);
    }
    if (::close(fd) != 0 && why.empty()) {
        why = failure("cannot close " + temp);
    }
    if (why.empty() && ::rename(temp.c_str(), path.c_str()) != 0) {
        why = failure("cannot rename " + temp + " to " + path);
    }
    if (!why.empty()) {
        ::unlink(temp.c_str());
    }
    return why;
}

}  // namespace nimbus::arena
