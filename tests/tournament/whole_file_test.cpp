// The files the tournament tool writes go through util's one writer: never through a link planted
// at the target or at a name the writer creates; a FIFO at the target is written in place.
#include "tournament/records/whole_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "util/whole_file.hpp"

namespace nimbus::tournament {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(WholeFile, NeverWritesThroughAPlantedLink) {
    const fs::path dir = fs::path(::testing::TempDir()) / "whole-file-links";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "victim") << "precious";
    // A link at the target is replaced by the new file.
    fs::create_symlink("victim", dir / "standings.json");
    writeWhole(dir / "standings.json", "{}\n");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "standings.json")));
    EXPECT_EQ(contents(dir / "standings.json"), "{}\n");
    // A name created anew (a temporary file, a .partial replay) refuses whatever stands there.
    fs::create_symlink("victim", dir / "to-victim");
    fs::create_symlink("missing", dir / "dangling");
    for (const char* name : {"to-victim", "dangling", "victim"}) {
        const util::OpenedFile file = util::createNew((dir / name).string());
        EXPECT_EQ(file.fd, -1) << name;
        EXPECT_EQ(file.error.code, EEXIST) << name;
    }
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_EQ(contents(dir / "victim"), "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);
}

TEST(WholeFile, AFifoAtTheTargetIsWrittenInPlace) {
    const fs::path fifo = fs::path(::testing::TempDir()) / "whole-file-fifo";
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    writeWhole(fifo, "standings\n");
    char got[32] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 10);
    EXPECT_STREQ(got, "standings\n");
    ::close(reader);
    struct stat st {};
    EXPECT_TRUE(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    fs::remove(fifo);
}

}  // namespace
}  // namespace nimbus::tournament
