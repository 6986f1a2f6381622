// --verify against hostile files of both formats: each is verified, or refused with the verdict a
// sound verifier gives (a damaged or unfinished record fails, only a .partial file may stop
// early), a damaged one says where, and none takes more heap than a few lines' worth, whatever it
// holds (this test counts the heap with its own operator new).
#include <malloc.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "arena/replay/verify.hpp"
#include "tests/arena/recorded_replay.hpp"

namespace {

std::atomic<std::size_t> gLive{0};
std::atomic<std::size_t> gPeak{0};

void* counted(void* p) {
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    const std::size_t live = gLive += malloc_usable_size(p);
    for (std::size_t peak = gPeak; live > peak && !gPeak.compare_exchange_weak(peak, live);) {
    }
    return p;
}

void uncounted(void* p) noexcept {
    if (p != nullptr) {
        gLive -= malloc_usable_size(p);
        std::free(p);
    }
}

}  // namespace

// Every form of new and delete, so that each pair meets the same allocator.
void* operator new(std::size_t n) {
    return counted(std::malloc(n == 0 ? 1 : n));
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return operator new(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept {
    return operator new(n, t);
}
void* operator new(std::size_t n, std::align_val_t a) {
    const auto align = static_cast<std::size_t>(a);
    return counted(std::aligned_alloc(align, (n + align - 1) / align * align));
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return operator new(n, a);
}
void operator delete(void* p) noexcept {
    uncounted(p);
}
void operator delete[](void* p) noexcept {
    uncounted(p);
}
void operator delete(void* p, std::size_t) noexcept {
    uncounted(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    uncounted(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    uncounted(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    uncounted(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    uncounted(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    uncounted(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    uncounted(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    uncounted(p);
}

namespace nimbus::arena {
namespace {

using testing::gzip;
using testing::gzipMember;

// The most heap a verification may take above what it started with: a few lines' worth
// (docs/replay.md; lines are at most 1 MiB), whatever the file.
constexpr std::size_t kHeapBound = 8u << 20;

enum class Verdict { Verified, Partial, Mismatch, NotReplay };

struct Row {
    const char* what;
    std::string name;  // of the file: ".partial" at its end allows a record without its end
    std::string bytes;
    Verdict verdict;
    std::string says;  // part of the message, when it must say something (where the damage is)
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line + "\n");
    }
    return lines;
}

std::string joined(const std::vector<std::string>& parts, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        out += parts[i];
    }
    return out;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.rfind(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

// The bytes with the one at `at` changed.
std::string flipped(std::string bytes, std::size_t at, unsigned char mask = 0xff) {
    bytes[at] = static_cast<char>(bytes[at] ^ mask);
    return bytes;
}

std::string repeated(const std::string& piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(HostileReplay, EveryFileIsVerifiedOrRefusedSoundlyWithinFewLinesOfHeap) {
    // A genuine record in gzip members of 40 lines, as the arena writes them (8 members).
    const std::string text = testing::playRecorded(300).text;
    const std::string zeros = testing::playRecorded(300, 3, true).text;
    const std::vector<std::string> lines = linesOf(text);
    std::vector<std::string> members;
    for (std::size_t at = 0; at < lines.size(); at += 40) {
        members.push_back(gzipMember(joined(lines, at, std::min(at + 40, lines.size())), true));
    }
    const std::size_t n = members.size();
    ASSERT_EQ(n, 8u);
    const std::string whole = joined(members, 0, n);
    const std::size_t third = joined(members, 0, 2).size();  // where member 3 starts
    const std::size_t last = whole.size() - members.back().size();
    const std::string end = lines.back();
    const std::string header = lines.front();
    const std::string v1 = fileText(NIMBUS_TEST_DATA "/version1-replay.json");
    const std::string v1Start = "{\"format\":\"nimbus-arena-replay\",\"version\":1,\"x\":";

    const std::vector<Row> rows = {
        // A record the arena wrote verifies, its winds with zeros of either sign too.
        {"a genuine record", "g.jsonl.gz", whole, Verdict::Verified, ""},
        {"a genuine record, plain", "g.jsonl", text, Verdict::Verified, ""},
        {"winds with zeros of either sign", "g.jsonl", zeros, Verdict::Verified, ""},
        {"winds with zeros of either sign, gzip", "g.jsonl.gz", gzip(zeros), Verdict::Verified,
         ""},
        {"a .partial record cut between members", "g.jsonl.gz.partial", joined(members, 0, 4),
         Verdict::Partial, ""},
        {"a .partial record cut inside a member", "g.jsonl.gz.partial",
         whole.substr(0, third + 100), Verdict::Partial, ""},
        // Damage and cuts of a finished record fail, and say where.
        {"a finished record cut between members", "g.jsonl.gz", joined(members, 0, 4),
         Verdict::Mismatch, "without its end"},
        {"a finished record cut inside a member", "g.jsonl.gz", whole.substr(0, third + 100),
         Verdict::Mismatch, "cut short at byte"},
        {"bytes after the last member", "g.jsonl.gz", whole + "garbage\n", Verdict::Mismatch,
         "after gzip member 8"},
        {"zeros after the last member", "g.jsonl.gz", whole + std::string(16, '\0'),
         Verdict::Mismatch, "after gzip member 8"},
        {"the last member's check", "g.jsonl.gz", flipped(whole, whole.size() - 8),
         Verdict::Mismatch, "gzip member 8"},
        {"the last member's length", "g.jsonl.gz", flipped(whole, whole.size() - 4, 1),
         Verdict::Mismatch, "gzip member 8"},
        {"a middle member's check", "g.jsonl.gz", flipped(whole, joined(members, 0, 3).size() - 8),
         Verdict::Mismatch, "gzip member 3"},
        {"a middle member's data", "g.jsonl.gz", flipped(whole, third + members[2].size() / 2),
         Verdict::Mismatch, "gzip member 3"},
        {"a middle member's length field", "g.jsonl.gz", flipped(whole, third + 16, 1),
         Verdict::Mismatch, "gzip member 3"},
        {"a .partial record damaged in its middle", "g.jsonl.gz.partial",
         flipped(whole, joined(members, 0, 3).size() - 8), Verdict::Mismatch, "gzip member 3"},
        {"the last member's header", "g.jsonl.gz", flipped(whole, last, 0x20), Verdict::Mismatch,
         "after gzip member 7"},
        {"plain text after the end line", "g.jsonl", text + "{", Verdict::Mismatch,
         "after the end line"},
        // The end line is the re-run game's, whole; so is the header.
        {"an end of one_left with every player in", "g.jsonl",
         replaced(text, "\"ticks\"", "\"one_left\""), Verdict::Mismatch, "end line"},
        {"an end of interrupted after the last tick", "g.jsonl",
         replaced(text, "\"ticks\"", "\"interrupted\""), Verdict::Mismatch, "end line"},
        {"an end with refused winds of four players in three", "g.jsonl",
         replaced(text, "\"refused\":[", "\"refused\":[0,"), Verdict::Mismatch, "4 players"},
        {"a header with a key the arena never writes", "g.jsonl",
         replaced(text, "\"settings\":{", "\"settings\":{\"x\":1,"), Verdict::Mismatch, "header"},
        // Files that would take memory without bound are refused within a few lines of heap.
        {"16 MiB of spaces, gzip, no header", "s.jsonl.gz", gzip(std::string(16 << 20, ' ')),
         Verdict::NotReplay, ""},
        {"a header line of 400,000 numbers", "h.jsonl.gz",
         gzip("{\"format\":\"nimbus-arena-replay\",\"version\":2,\"x\":[0" +
              repeated(",0", 400000) + "]}\n"),
         Verdict::NotReplay, ""},
        {"a header, then a line of 2 MiB of [", "b.jsonl.gz",
         gzip(header + std::string(2 << 20, '[') + "\n"), Verdict::NotReplay, "line 2"},
        {"2 MiB of [ and no header", "b.jsonl.gz", gzip(std::string(2 << 20, '[') + "\n"),
         Verdict::NotReplay, ""},
        {"a format-1 start, then 4 MiB of zeros", "z.json.gz",
         gzip(v1Start + "[0" + repeated(",0", 2 << 20)), Verdict::NotReplay, ""},
        {"a format-1 start, then a string of 4 MiB", "z.json.gz",
         gzip(v1Start + "\"" + std::string(4 << 20, 'a') + "\"}"), Verdict::NotReplay, ""},
        {"a format-1 record of 100,000 frames and no settings", "f.json.gz",
         gzip("{\"end_tick\":1,\"frames\":[" + repeated("[[0,\"T\",0,1,1,1]],", 100000) +
              "[]],\"format\":\"nimbus-arena-replay\",\"version\":1}"),
         Verdict::NotReplay, "settings"},
        // Format 1: verified when genuine; its damage and its end checked as well.
        {"a format-1 record, gzip", "v1.json.gz", gzip(v1), Verdict::Verified, ""},
        {"a format-1 record, its check damaged", "v1.json.gz", flipped(gzip(v1), gzip(v1).size() - 8),
         Verdict::Mismatch, "gzip member 1"},
        {"a format-1 record whose end is one_left", "v1.json",
         replaced(v1, "\"end_reason\":\"ticks\"", "\"end_reason\":\"one_left\""), Verdict::Mismatch,
         "end reason"},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const std::string path = ::testing::TempDir() + "/hostile-" + std::to_string(i) + "-" + row.name;
        std::ofstream(path, std::ios::binary) << row.bytes;
        const auto source = ReplaySource::file(path);
        const std::size_t before = gLive;
        gPeak = before;
        const VerifyReport r = verifyReplay(*source);
        const std::size_t heap = gPeak - before;
        std::remove(path.c_str());
        const std::string verdicts[] = {"verified", "partial", "mismatch", "not a replay"};
        const Verdict got = r.notReplay ? Verdict::NotReplay
                            : !r.ok     ? Verdict::Mismatch
                            : r.partial ? Verdict::Partial
                                        : Verdict::Verified;
        EXPECT_EQ(verdicts[static_cast<int>(got)], verdicts[static_cast<int>(row.verdict)])
            << row.what << ": " << r.message;
        EXPECT_NE(r.message.find(row.says), std::string::npos) << row.what << ": " << r.message;
        EXPECT_LE(heap, kHeapBound) << row.what;
    }
}

}  // namespace
}  // namespace nimbus::arena
