// The replay file written by its compressing thread: every piece reaches the file, in order, as
// gzip members that name their lengths; a file left unfinished is a partial replay, and one cut
// inside a member still reads up to its cut.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "arena/replay/reader.hpp"
#include "arena/replay/writer.hpp"

namespace nimbus::arena {
namespace {

namespace fs = std::filesystem;

// Lines read from the file until it ends; `how` says how it ended.
std::vector<std::string> linesOf(const std::string& path, ReplaySource::Next& how) {
    auto source = ReplaySource::file(path);
    std::vector<std::string> lines;
    std::string line;
    while ((how = source->nextLine(line, 1 << 20)) == ReplaySource::Next::Line) {
        lines.push_back(line);
    }
    return lines;
}

TEST(ReplayFile, EveryPieceReachesTheFileInOrderFinishedOrNot) {
    // Enough text for many pieces (the queue fills and the game waits), no two lines alike.
    std::vector<std::string> lines;
    std::size_t bytes = 0;
    for (int i = 0; bytes < 7 * kReplayPiece; ++i) {
        lines.push_back("{\"t\":" + std::to_string(i) + ",\"p\":[" + std::to_string(i * 7919 % 1280) +
                        "." + std::to_string(i % 97) + "]}");
        bytes += lines.back().size() + 1;
    }
    for (const bool finished : {true, false}) {
        const std::string path =
            ::testing::TempDir() + "/replay-file-" + (finished ? "whole" : "left") + ".jsonl.gz";
        fs::remove(partialPath(path));  // created anew: one a crashed run left is in the way
        util::FileError error;
        auto file = ReplayFile::create(path, error);
        ASSERT_NE(file, nullptr) << error.message;
        for (const std::string& l : lines) {
            file->append(l + "\n");
        }
        if (finished) {
            EXPECT_EQ(file->finish(), "");
        }
        file.reset();
        const std::string left = finished ? path : partialPath(path);
        EXPECT_EQ(fs::exists(partialPath(path)), !finished);
        ReplaySource::Next how{};
        EXPECT_EQ(linesOf(left, how), lines) << left;
        EXPECT_EQ(how, ReplaySource::Next::End);

        // Cut in the middle of a member: the lines before the cut, then Cut.
        std::ifstream in(left, std::ios::binary);
        std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string cut = left + ".cut";
        std::ofstream(cut, std::ios::binary) << raw.substr(0, raw.size() / 2);
        const std::vector<std::string> got = linesOf(cut, how);
        EXPECT_EQ(how, ReplaySource::Next::Cut);
        EXPECT_GT(got.size(), lines.size() / 4);
        EXPECT_LT(got.size(), lines.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), lines.begin()));
        fs::remove(left);
        fs::remove(cut);
    }
}

}  // namespace
}  // namespace nimbus::arena
