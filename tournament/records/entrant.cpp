#include "tournament/records/entrant.hpp"

#include <algorithm>
#include <cstdio>

#include "util/utf8.hpp"

namespace nimbus::tournament {

namespace {

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
    if (!util::isPrintableUtf8(bot)) {
        return "the entrant \"" + printable(bot) +
               "\" holds a control character or is not UTF-8 (an entrant is one line)";
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
        const std::size_t length = util::printableCharAt(text, i);
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
