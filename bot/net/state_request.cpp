#include "bot/net/state_request.hpp"

#include <cstdio>
#include <cstring>

#include "bot/net/line_scan.hpp"

namespace nimbus {
namespace {

int scanCloud(const char* text, CloudState& c) {
    float* const targets[5] = {&c.x, &c.y, &c.vx, &c.vy, &c.mass};
    return scanFloats(text, targets, 5);
}

}  // namespace

void requestState(ServerLink& link, WorldSnapshot& snapshot) {
    std::int32_t youIndex = -1;
    std::int32_t stormCount = 0;
    CloudState scratch;

    char line[kStateLineLimit + 1];
    const int length = std::snprintf(line, sizeof line, "GET_STATE\n");
    link.sendText(line, length);

    while (link.enabled()) {
        const std::int32_t count = link.receiveLine(line, kStateLineLimit);
        line[count] = '\0';
        // An empty line is no part of a reply: skip it and read on to END_STATE. A failed read
        // also gives an empty line, and the loop ends with the disabled link.
        if (count == 0)
            continue;

        char* args = std::strchr(line, ' ');
        if (args != nullptr) {
            *args = '\0';
            ++args;
        } else {
            args = line + count;
        }

        if (std::strcmp(line, "BEGIN_STATE") == 0) {
            scanInt(args, &snapshot.tick);
        } else if (std::strcmp(line, "YOU") == 0) {
            scanInt(args, &youIndex);
        } else if (std::strcmp(line, "THUNDERSTORM") == 0) {
            scanCloud(args, scratch);
            if (stormCount == youIndex) {
                snapshot.own = scratch;
            } else {
                snapshot.rivals.push_back(scratch);
            }
            ++stormCount;
        } else if (std::strcmp(line, "RAINCLOUD") == 0) {
            scanCloud(args, scratch);
            snapshot.rainclouds.push_back(scratch);
        } else if (std::strcmp(line, "END_STATE") == 0) {
            return;
        }
    }
}

void refreshState(ServerLink& link, WorldSnapshot& snapshot) {
    snapshot.clear();
    requestState(link, snapshot);
}

}  // namespace nimbus
