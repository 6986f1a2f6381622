#pragma once
// The sockets guard: brought up once, first thing in a run that is going to play; prints
// "WSAStartup result: %d" and registers the release (which prints "WSACleanup done") to run at
// process exit, after everything else.
namespace nimbus {

class SocketsGuard {
  public:
    SocketsGuard();
    // True when the sockets library started (its result was 0).
    bool ok() const { return result_ == 0; }

  private:
    int result_ = 0;
};

}  // namespace nimbus
