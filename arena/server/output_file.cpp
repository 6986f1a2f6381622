#include "arena/server/output_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "util/whole_file.hpp"

namespace nimbus::arena {

namespace {

namespace fs = std::filesystem;

std::string folderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

std::string failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

std::string whyNotWritable(const std::string& path) {
    if (path.empty()) {
        return "no file name";
    }
    if (util::writtenInPlace(path)) {
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

std::string clearForCreation(const std::string& path) {
    if (std::string why = removeStale(path); !why.empty()) {
        return why;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        return "cannot create " + path + ": " +
               (S_ISLNK(st.st_mode) ? "a symbolic link" : "something that is not a file") +
               " is in its place";
    }
    return "";
}

}  // namespace nimbus::arena
