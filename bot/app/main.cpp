// nimbus-bot: plays one game against the server on 127.0.0.1:1986 and exits with 0.
#include "bot/control/bot.hpp"
#include "bot/platform/clock.hpp"

int main() {
    nimbus::platform::SystemClock clock;
    {
        nimbus::Bot bot(clock);
        bot.run();
        clock.sleep(1000);
    }
    return 0;
}
