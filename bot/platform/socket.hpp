#pragma once
// Blocking TCP client calls: the only place where the bot touches the operating system's sockets.
// Each call mirrors one step of the classic resolve / socket / connect / send / recv sequence;
// failures are reported through return values and lastSocketError(), never by exceptions.
#include <cstdint>

namespace nimbus::platform {

// Wide enough for a Windows SOCKET as well as a POSIX descriptor; -1 (Windows: INVALID_SOCKET)
// means no socket.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Result of a name resolution; owned by the caller and freed with releaseAddresses().
struct AddressList;

// Starts the sockets library: WSAStartup for version 2.2 on Windows, returning its result;
// nothing needs starting on POSIX, where it returns 0.
int socketsStartup();
// Releases the sockets library (WSACleanup; nothing to do on POSIX).
void socketsCleanup();

// Resolves node:service for a TCP stream. Returns 0 and sets *out, or the resolver's error code.
int resolveAddresses(const char* node, const char* service, AddressList** out);
void releaseAddresses(AddressList* list);

// Creates a socket for the first resolved address. Returns kNoSocket on failure.
SocketHandle openSocket(const AddressList* list);
// Connects to the first resolved address. Returns 0 on success, -1 on failure.
int connectSocket(SocketHandle handle, const AddressList* list);

// Sends length bytes once. Returns the count sent or -1; a closed peer gives -1, never SIGPIPE.
long sendBytes(SocketHandle handle, const char* data, int length);
// Receives what has arrived, at most capacity bytes (capacity >= 1), waiting for at least one.
// Returns the count received, 0 when the peer closed, or -1 on failure.
long receiveBytes(SocketHandle handle, char* data, int capacity);
void closeSocket(SocketHandle handle);

// Error code of the last failed socket call, the platform's own: errno on POSIX (111 for a
// refused connection, 104 for a reset one), WSAGetLastError() on Windows (10061, 10054).
long lastSocketError();

}  // namespace nimbus::platform
