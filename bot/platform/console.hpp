#pragma once
// Standard output of the bot: its trace.
namespace nimbus::platform {

// Makes every line of standard output reach its reader when it is written, so that a log of the
// trace is complete even if the process is killed. Line ends stay the platform's own (Windows
// writes CR LF in text mode).
void writeStandardOutputByLine();

}  // namespace nimbus::platform
