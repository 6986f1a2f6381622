#include "arena/replay/fields.hpp"

#include <cmath>
#include <limits>

#include "arena/limits.hpp"

namespace nimbus::arena {

const nlohmann::json& field(const nlohmann::json& object, const char* key) {
    if (!object.is_object() || !object.contains(key)) {
        throw NotAReplay{std::string("no \"") + key + "\""};
    }
    return object[key];
}

std::int64_t integerIn(const nlohmann::json& value, const char* what, std::int64_t low,
                       std::int64_t high) {
    bool integer = false;
    std::int64_t v = 0;
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        integer = u <= static_cast<std::uint64_t>(high);
        v = integer ? static_cast<std::int64_t>(u) : 0;
    } else if (value.is_number_integer()) {
        integer = true;
        v = value.get<std::int64_t>();
    }
    if (!integer || v < low || v > high) {
        throw NotAReplay{std::string(what) + " is not an integer from " + std::to_string(low) +
                         " to " + std::to_string(high)};
    }
    return v;
}

float finiteFloat(const nlohmann::json& value, const char* what) {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (!value.is_number() || !std::isfinite(value.get<double>()) ||
        std::fabs(value.get<double>()) > kMax) {
        throw NotAReplay{std::string(what) + " is not a finite 32-bit number"};
    }
    return value.get<float>();
}

GameSettings settingsOf(const nlohmann::json& replay) {
    const nlohmann::json& s = field(replay, "settings");
    GameSettings settings;
    const nlohmann::json& seed = field(s, "seed");
    if (!seed.is_number_unsigned()) {
        throw NotAReplay{"seed is not an unsigned integer"};
    }
    settings.seed = seed.get<std::uint64_t>();
    settings.ticks =
        static_cast<std::int32_t>(integerIn(field(s, "ticks"), "ticks", 0, kMaxReplayTicks));
    settings.rainclouds = static_cast<std::int32_t>(
        integerIn(field(s, "rainclouds"), "rainclouds", 0, kMaxReplayRainclouds));
    settings.players =
        static_cast<std::int32_t>(integerIn(field(s, "players"), "players", 1, kMaxReplayPlayers));
    return settings;
}

namespace {

// A header holds 11 values and 4 per player (nested at most 3 deep): a JSON text of more, or
// nested deeper, is no header and is not parsed into a document.
constexpr std::size_t kMaxHeaderDepth = 8;
constexpr std::size_t kMaxHeaderValues = 64 + 4 * kMaxReplayPlayers;

// Counts the depth and the values of a JSON text without building it (see parseHeader).
struct HeaderLimits {
    std::size_t depth = 0;
    std::size_t values = 0;
    bool value() { return ++values <= kMaxHeaderValues; }
    bool null() { return value(); }
    bool boolean(bool) { return value(); }
    bool number_integer(std::int64_t) { return value(); }
    bool number_unsigned(std::uint64_t) { return value(); }
    bool number_float(double, const std::string&) { return value(); }
    bool string(std::string&) { return value(); }
    bool binary(nlohmann::json::binary_t&) { return value(); }
    bool start_object(std::size_t) { return value() && ++depth <= kMaxHeaderDepth; }
    bool key(std::string&) { return true; }
    bool end_object() { return --depth, true; }
    bool start_array(std::size_t) { return value() && ++depth <= kMaxHeaderDepth; }
    bool end_array() { return --depth, true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&) {
        return false;
    }
};

}  // namespace

nlohmann::json parseHeader(const std::string& text) {
    HeaderLimits limit;
    if (!nlohmann::json::sax_parse(text, &limit)) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    return nlohmann::json::parse(text, nullptr, false);
}

}  // namespace nimbus::arena
