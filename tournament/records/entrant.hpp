#pragma once
// Entrants as people see them: which BOT texts a tournament accepts, the one rule that turns an
// entrant into its label in every table and progress line, and text from files made safe for a
// terminal.
#include <map>
#include <string>
#include <vector>

namespace nimbus::tournament {

// Why `bot` cannot be an entrant (empty when it can): it must be non-empty UTF-8 without control
// characters. An entrant is one line of shell; a newline would make a job line of its own.
std::string entrantProblem(const std::string& bot);

// The label of each entrant: builtins as they are; a command with every word that holds a '/'
// (and does not start with '-') cut to its last part ("build/release/bin/nimbus-bot --port 7"
// is "nimbus-bot --port 7", "python3 bots/a.py" is "python3 a.py"). Where two entrants would get
// the same label, both are shown in full. Labels are printable (see printable()).
std::map<std::string, std::string> entrantLabels(const std::vector<std::string>& entrants);

// The text with every control character, and every byte that is not part of valid UTF-8, written
// as \xNN, so that nothing read from a file can drive the terminal.
std::string printable(const std::string& text);

}  // namespace nimbus::tournament
