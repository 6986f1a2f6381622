#include "bot/platform/socket.hpp"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

namespace nimbus::platform {

struct AddressList {
    addrinfo* head = nullptr;
};

int socketsStartup() {
    return 0;
}
void socketsCleanup() {}

int resolveAddresses(const char* node, const char* service, AddressList** out) {
    addrinfo hints{};
    hints.ai_flags = 0;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* head = nullptr;
    const int rc = getaddrinfo(node, service, &hints, &head);
    if (rc != 0)
        return rc;
    *out = new AddressList{head};
    return 0;
}

void releaseAddresses(AddressList* list) {
    if (list == nullptr)
        return;
    freeaddrinfo(list->head);
    delete list;
}

SocketHandle openSocket(const AddressList* list) {
    const addrinfo* a = list->head;
    int fd = -1;
    do {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoSocket : fd;
}

int connectSocket(SocketHandle handle, const AddressList* list) {
    const addrinfo* a = list->head;
    return ::connect(handle, a->ai_addr, a->ai_addrlen) == 0 ? 0 : -1;
}

long sendBytes(SocketHandle handle, const char* data, int length) {
    ssize_t n = 0;
    do {
        n = ::send(handle, data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<long>(n);
}

long receiveBytes(SocketHandle handle, char* data, int capacity) {
    ssize_t n = 0;
    do {
        n = ::recv(handle, data, static_cast<size_t>(capacity), 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<long>(n);
}

void closeSocket(SocketHandle handle) {
    ::close(handle);
}

long lastSocketError() {
    return errno;
}

}  // namespace nimbus::platform
