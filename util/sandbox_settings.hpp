#pragma once
// The sandbox's settings as the programs take them (--sandbox and its limits, for the arena and
// the tournament tool alike), pass them on (the arena's options) and record them (JSON, in
// results.json and tournament.json).
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "util/sandbox.hpp"

namespace nimbus::util {

struct SandboxOptions {
    bool on = false;
    SandboxLimits limits;
};

// Adds --sandbox and the limits (--sandbox-memory, --sandbox-processes, --sandbox-open-files,
// --sandbox-file-size, --sandbox-disk, --sandbox-cpu, --sandbox-ro), which need --sandbox.
void addSandboxOptions(CLI::App& app, SandboxOptions& options);

// After parsing: the limits chosen, the read-only paths made absolute; nothing without --sandbox.
// Throws std::invalid_argument naming a read-only path that does not exist.
std::optional<SandboxLimits> chosenSandbox(const SandboxOptions& options);

// The arena's options that play a game with these limits, every one given.
std::vector<std::string> sandboxArguments(const SandboxLimits& limits);

// {"memory_mib", "processes", "open_files", "file_size_mib", "disk_mib", "cpu_cores",
//  "cpu_window_s", "read_only": [paths]}; null for no sandbox.
nlohmann::json sandboxJson(const std::optional<SandboxLimits>& limits);
// The limits of such an object (null: nothing). Throws nlohmann::json::exception when malformed.
std::optional<SandboxLimits> sandboxFromJson(const nlohmann::json& json);

}  // namespace nimbus::util
