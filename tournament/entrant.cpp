#include "tournament/entrant.hpp"

#include <algorithm>
#include <cstdio>

namespace nimbus::tournament {

namespace {

// The length of the valid UTF-8 character at text[i] that is not a control character (C0, DEL,
// C1), or 0.
std::size_t printableAt(const std::string& text, std::size_t i) {
    const auto byte = [&text](std::size_t k) {
        return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
    };
    const unsigned lead = byte(i);
    if (lead >= 0x20 && lead < 0x7F) {
        return 1;
    }
    std::size_t length = 0;
    unsigned code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool valid =
        code >= least[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    const bool c1 = code >= 0x80 && code <= 0x9F;
    return valid && !c1 ? length : 0;
}

std::string shortened(const std::string& entrant) {
    std::string out;
    std::size_t i = 0;
    while (i < entrant.size()) {
        const std::size_t end = std::min(entrant.find(' ', i), entrant.size());
        const std::string word = entrant.substr(i, end - i);
        const std::size_t slash = word.rfind('/', word.size() > 1 ? word.size() - 2 : 0);
        const bool path = !word.empty() && word[0] != '-' && slash != std::string::npos &&
                          slash + 1 < word.size();
        out += path ? word.substr(slash + 1) : word;
        if (end < entrant.size()) {
            out += ' ';
        }
        i = end + 1;
    }
    return out;
}

}  // namespace

std::string entrantProblem(const std::string& bot) {
    if (bot.empty()) {
        return "an entrant is empty";
    }
    for (std::size_t i = 0; i < bot.size();) {
        const std::size_t length = printableAt(bot, i);
        if (length == 0) {
            return "the entrant \"" + printable(bot) +
                   "\" holds a control character or is not UTF-8 (an entrant is one line)";
        }
        i += length;
    }
    return "";
}

std::map<std::string, std::string> entrantLabels(const std::vector<std::string>& entrants) {
    std::map<std::string, std::string> labels;
    std::map<std::string, int> uses;
    for (const std::string& e : entrants) {
        if (labels.emplace(e, printable(shortened(e))).second) {
            ++uses[labels[e]];
        }
    }
    for (auto& [entrant, label] : labels) {
        if (uses[label] > 1) {
            label = printable(entrant);
        }
    }
    return labels;
}

std::string printable(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = printableAt(text, i);
        if (length > 0) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[i]));
        out += escaped;
        ++i;
    }
    return out;
}

}  // namespace nimbus::tournament
