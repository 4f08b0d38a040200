#pragma once

// The few socket calls a test server needs, over Winsock or POSIX sockets:
// a listener on the loopback address, waits that give up in short steps,
// and sends and receives that never raise a signal.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstddef>
#include <string_view>

namespace loopback_socket {

#ifdef _WIN32
using Socket = SOCKET;
inline constexpr Socket kNone = INVALID_SOCKET;
#else
using Socket = int;
inline constexpr Socket kNone = -1;
#endif

// Winsock must be started before the first socket call and stopped after the
// last; one of these per server does both (nothing to do on POSIX).
class Session {
public:
    Session() {
#ifdef _WIN32
        WSADATA data;
        started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
#endif
    }
    ~Session() {
#ifdef _WIN32
        if (started_) ::WSACleanup();
#endif
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

private:
    [[maybe_unused]] bool started_ = false;
};

inline void Close(Socket socket) {
#ifdef _WIN32
    ::closesocket(socket);
#else
    ::close(socket);
#endif
}

// A socket listening on 127.0.0.1 at `port` (0: any free port), which is
// never shared with another listener; kNone when the port is taken.
// `boundPort` receives the port actually bound.
inline Socket ListenOnLoopback(int port, int& boundPort) {
    Socket listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == kNone) return kNone;
    int yes = 1;
#ifdef _WIN32
    // Without it another program could bind the same port and take requests.
    ::setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
    int length = sizeof(sockaddr_in);
#else
    // A port left in TIME_WAIT by an earlier test may be bound again; a port
    // another server listens on may not (no SO_REUSEPORT).
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    socklen_t length = sizeof(sockaddr_in);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<unsigned short>(port));
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Close(listener);
        return kNone;
    }
    boundPort = ntohs(address.sin_port);
    return listener;
}

// True once the socket can be read (or accepted from), or written when
// `forWriting`; false when `milliseconds` pass first.
inline bool WaitReady(Socket socket, bool forWriting, int milliseconds) {
#ifdef _WIN32
    WSAPOLLFD entry{socket, static_cast<SHORT>(forWriting ? POLLWRNORM : POLLRDNORM), 0};
    return ::WSAPoll(&entry, 1, milliseconds) > 0;
#else
    pollfd entry{socket, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    return ::poll(&entry, 1, milliseconds) > 0;
#endif
}

inline Socket Accept(Socket listener) { return ::accept(listener, nullptr, nullptr); }

// The number of bytes received, 0 when the peer has closed, negative on an error.
inline long Receive(Socket socket, char* buffer, size_t size) {
    return static_cast<long>(::recv(socket, buffer, static_cast<int>(size), 0));
}

// The number of bytes sent, negative when the peer has gone.
inline long Send(Socket socket, std::string_view bytes) {
#ifdef _WIN32
    return ::send(socket, bytes.data(), static_cast<int>(bytes.size()), 0);
#else
    return static_cast<long>(::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL));
#endif
}

// Ends the sending side, so the peer reads the end of the stream after
// everything that was sent.
inline void ShutdownSend(Socket socket) {
#ifdef _WIN32
    ::shutdown(socket, SD_SEND);
#else
    ::shutdown(socket, SHUT_WR);
#endif
}

}  // namespace loopback_socket
