// Programs started without a shell: arguments reach them as they are, their output and exit status
// come back, and a program that cannot run says why.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include "util/process.hpp"

namespace {

using nimbus::util::runCaptured;

TEST(RunCaptured, PassesArgumentsAsTheyAreAndReturnsOutputAndStatus) {
    const auto r = runCaptured({"sh", "-c", "echo \"$1\"; echo err >&2; exit 3", "sh",
                                "$(touch /nonexistent); `x` 'q' *"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.output, "$(touch /nonexistent); `x` 'q' *\nerr\n");
}

TEST(RunCaptured, AProgramThatCannotRunSaysWhy) {
    const auto r = runCaptured({"nimbus-no-such-program"});
    EXPECT_EQ(r.exitCode, 127);
    EXPECT_EQ(r.output, "cannot run nimbus-no-such-program: No such file or directory\n");
}

TEST(ExitText, ReadsExitsAndSignals) {
    EXPECT_EQ(nimbus::util::exitText(3 << 8), "exit status 3");
    EXPECT_EQ(nimbus::util::exitText(SIGKILL), "signal 9");
}

}  // namespace
