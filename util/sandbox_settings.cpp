#include "util/sandbox_settings.hpp"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace nimbus::util {

namespace fs = std::filesystem;

void addSandboxOptions(CLI::App& app, SandboxOptions& o) {
    CLI::Option* on = app.add_flag(
        "--sandbox", o.on,
        "each bot in a sandbox of its own (bubblewrap; as the user nobody; needs root), each "
        "game in a network of its own; see the limits below");
    SandboxLimits& l = o.limits;
    const auto limit = [&](const char* name, auto& value, const char* what, auto low, auto high) {
        app.add_option(name, value, what)
            ->check(CLI::Range(low, high))
            ->capture_default_str()
            ->needs(on);
    };
    limit("--sandbox-memory", l.memoryMiB, "MiB of memory a bot may hold, its processes together",
          16, 1 << 20);
    limit("--sandbox-processes", l.processes, "processes and threads a bot may run", 4, 1 << 20);
    limit("--sandbox-open-files", l.openFiles, "files a bot's process may hold open", 16, 1 << 20);
    limit("--sandbox-file-size", l.fileSizeMiB, "MiB of the largest file a bot may write", 1,
          1 << 20);
    limit("--sandbox-disk", l.diskMiB,
          "MiB a bot may write in each of its working folder, /tmp and /dev/shm", 1, 1 << 20);
    limit("--sandbox-cpu", l.cpuCores, "cores a bot may keep busy, over 2 s", 0.05, 1024.0);
    app.add_option("--sandbox-ro", l.readOnly,
                   "a file or folder every bot may read beyond the system and its own (repeatable)")
        ->allow_extra_args(false)
        ->needs(on);
}

std::optional<SandboxLimits> chosenSandbox(const SandboxOptions& options) {
    if (!options.on) {
        return std::nullopt;
    }
    SandboxLimits limits = options.limits;
    for (std::string& path : limits.readOnly) {
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            throw std::invalid_argument("--sandbox-ro " + path + ": no such file or folder");
        }
        path = fs::absolute(path).lexically_normal().string();
    }
    return limits;
}

std::vector<std::string> sandboxArguments(const SandboxLimits& l) {
    char cores[32];
    std::snprintf(cores, sizeof cores, "%g", l.cpuCores);
    std::vector<std::string> args{"--sandbox",
                                  "--sandbox-memory",
                                  std::to_string(l.memoryMiB),
                                  "--sandbox-processes",
                                  std::to_string(l.processes),
                                  "--sandbox-open-files",
                                  std::to_string(l.openFiles),
                                  "--sandbox-file-size",
                                  std::to_string(l.fileSizeMiB),
                                  "--sandbox-disk",
                                  std::to_string(l.diskMiB),
                                  "--sandbox-cpu",
                                  cores};
    for (const std::string& path : l.readOnly) {
        args.insert(args.end(), {"--sandbox-ro", path});
    }
    return args;
}

nlohmann::json sandboxJson(const std::optional<SandboxLimits>& limits) {
    if (!limits) {
        return nullptr;
    }
    const SandboxLimits& l = *limits;
    return {{"memory_mib", l.memoryMiB},
            {"processes", l.processes},
            {"open_files", l.openFiles},
            {"file_size_mib", l.fileSizeMiB},
            {"disk_mib", l.diskMiB},
            {"cpu_cores", l.cpuCores},
            {"cpu_window_s", kCpuWindow.count()},
            {"read_only", l.readOnly}};
}

std::optional<SandboxLimits> sandboxFromJson(const nlohmann::json& json) {
    if (json.is_null()) {
        return std::nullopt;
    }
    SandboxLimits l;
    l.memoryMiB = json.at("memory_mib").get<std::int64_t>();
    l.processes = json.at("processes").get<std::int32_t>();
    l.openFiles = json.at("open_files").get<std::int32_t>();
    l.fileSizeMiB = json.at("file_size_mib").get<std::int64_t>();
    l.diskMiB = json.at("disk_mib").get<std::int64_t>();
    l.cpuCores = json.at("cpu_cores").get<double>();
    l.readOnly = json.at("read_only").get<std::vector<std::string>>();
    return l;
}

}  // namespace nimbus::util
