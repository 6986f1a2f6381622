#include "arena/server/protocol.hpp"

#include <cstdio>
#include <cstdlib>

#include "util/utf8.hpp"

namespace nimbus::arena {

namespace {

Command invalid(std::string why) {
    Command c;
    c.error = std::move(why);
    return c;
}

// One number filling the whole token (strtod's syntax, so "nan", "inf" and hexadecimal too),
// rounded once, from the text, to the nearest float: strtof rounds correctly, so a number
// between two floats is never first rounded to a double on one side of their midpoint. Beyond
// the largest float by half a unit or more it is infinite.
bool parseNumber(std::string_view token, float& out) {
    if (token.empty() || token.size() > 64) {
        return false;
    }
    const std::string text(token);
    char* end = nullptr;
    out = std::strtof(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

}  // namespace

bool isGoodName(std::string_view text) {
    return !text.empty() && text.size() <= kMaxNameBytes && util::isPrintableUtf8(text);
}

Command parseCommand(std::string_view line) {
    const std::size_t space = line.find(' ');
    const std::string_view keyword = line.substr(0, space);
    const std::string_view args =
        space == std::string_view::npos ? std::string_view{} : trim(line.substr(space + 1));
    if (keyword == "NAME") {
        if (args.empty()) {
            return invalid("NAME needs a name");
        }
        if (!isGoodName(args)) {
            return invalid("bad name");
        }
        Command c;
        c.kind = CommandKind::Name;
        c.name = std::string(args);
        return c;
    }
    if (keyword == "GET_STATE") {
        if (!args.empty()) {
            return invalid("GET_STATE takes no args");
        }
        Command c;
        c.kind = CommandKind::GetState;
        return c;
    }
    if (keyword == "WIND") {
        const std::size_t gap = args.find_first_of(" \t");
        if (args.empty() || gap == std::string_view::npos) {
            return invalid("WIND needs two numbers");
        }
        const std::string_view second = trim(args.substr(gap));
        if (second.find_first_of(" \t") != std::string_view::npos) {
            return invalid("WIND takes two numbers");
        }
        Command c;
        c.kind = CommandKind::Wind;
        if (!parseNumber(args.substr(0, gap), c.wx) || !parseNumber(second, c.wy)) {
            return invalid("WIND numbers malformed");
        }
        return c;
    }
    if (keyword.empty()) {
        return invalid("empty command");
    }
    return invalid("unknown command");
}

std::string formatState(const Game& game, std::int32_t player) {
    std::string out;
    out.reserve(64 + 64 * game.clouds().size());
    char line[512];
    std::int32_t you = -1;
    std::int32_t index = 0;
    for (const Cloud& c : game.clouds()) {
        if (c.kind == CloudKind::Thunderstorm) {
            if (c.owner == player) {
                you = index;
            }
            ++index;
        }
    }
    std::snprintf(line, sizeof line, "BEGIN_STATE %d\nYOU %d\n", game.tick(), you);
    out += line;
    auto cloudLine = [&](const char* keyword, const CloudState& s) {
        std::snprintf(line, sizeof line, "%s %f %f %f %f %f\n", keyword, static_cast<double>(s.x),
                      static_cast<double>(s.y), static_cast<double>(s.vx),
                      static_cast<double>(s.vy), static_cast<double>(s.mass));
        out += line;
    };
    for (const Cloud& c : game.clouds()) {
        if (c.kind == CloudKind::Thunderstorm) {
            cloudLine("THUNDERSTORM", c.state);
        }
    }
    for (const Cloud& c : game.clouds()) {
        if (c.kind == CloudKind::Raincloud) {
            cloudLine("RAINCLOUD", c.state);
        }
    }
    out += "END_STATE\n";
    return out;
}

}  // namespace nimbus::arena
