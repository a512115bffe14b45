#include "Relay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace sorvanto::test {

namespace {
using Clock = std::chrono::steady_clock;

// How long the server's side of a link whose answer was dropped stays open.
constexpr auto kServerGrace = std::chrono::seconds(2);

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
        fd = -1;
    }
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Commands reach the relay's thread through a pipe; the caller waits until they are done.
std::mutex commandLock;
std::condition_variable commandDone;
long commandsDone = 0;
} // namespace

struct TcpRelay::Link {
    int client = -1;
    int server = -1;
    bool dropNext = false;
    Clock::time_point closeServerAt{};
};

TcpRelay::TcpRelay(int serverPort) : serverPort_(serverPort) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("the relay cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

TcpRelay::~TcpRelay() {
    Command('q');
    thread_.join();
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void TcpRelay::DropNextAnswer() {
    Command('d');
}

void TcpRelay::CutNow() {
    Command('c');
}

void TcpRelay::Command(char c) {
    std::unique_lock lock(commandLock);
    const long wanted = commandsDone + 1;
    if (::write(wake_[1], &c, 1) != 1)
        return;
    commandDone.wait(lock, [&] { return commandsDone >= wanted; });
}

void TcpRelay::Run() {
    std::vector<Link> links;
    char buffer[65536];
    for (;;) {
        std::vector<pollfd> fds{{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        for (const Link& link : links) {
            fds.push_back({link.client, static_cast<short>(link.client >= 0 ? POLLIN : 0), 0});
            fds.push_back({link.server, POLLIN, 0});
        }
        ::poll(fds.data(), fds.size(), 100);
        const auto now = Clock::now();
        if (fds[1].revents & POLLIN) {
            char c = 0;
            if (::read(wake_[0], &c, 1) == 1) {
                for (Link& link : links) {
                    if (c == 'd')
                        link.dropNext = true;
                    if (c == 'c' || c == 'q') {
                        if (link.client >= 0 || link.server >= 0)
                            ++cuts_;
                        CloseFd(link.client);
                        CloseFd(link.server);
                    }
                }
                std::lock_guard lock(commandLock);
                ++commandsDone;
                commandDone.notify_all();
                if (c == 'q')
                    return;
            }
        }
        if (fds[0].revents & POLLIN) {
            int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(static_cast<std::uint16_t>(serverPort_));
            if (client >= 0 && server >= 0 &&
                ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                // As Firebird's own ends do: without it, small answers wait for delayed ACKs.
                const int on = 1;
                ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                links.push_back({client, server, false, {}});
            } else {
                CloseFd(client);
                CloseFd(server);
            }
        }
        for (std::size_t i = 0; i < links.size() && 2 + 2 * i + 1 < fds.size(); ++i) {
            Link& link = links[i];
            const pollfd& fromClient = fds[2 + 2 * i];
            const pollfd& fromServer = fds[2 + 2 * i + 1];
            if (link.client >= 0 && (fromClient.revents & (POLLIN | POLLHUP | POLLERR))) {
                ssize_t n = ::recv(link.client, buffer, sizeof buffer, 0);
                if (n <= 0 || !WriteAll(link.server, buffer, static_cast<std::size_t>(n))) {
                    CloseFd(link.client);
                    CloseFd(link.server);
                }
            }
            if (link.server >= 0 && (fromServer.revents & (POLLIN | POLLHUP | POLLERR))) {
                ssize_t n = ::recv(link.server, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    CloseFd(link.client);
                    CloseFd(link.server);
                } else if (link.dropNext) {
                    // The answer goes nowhere, and the client loses the link waiting for it
                    // (counted first: the client may look as soon as it sees the link go).
                    link.dropNext = false;
                    ++cuts_;
                    CloseFd(link.client);
                    link.closeServerAt = now + kServerGrace;
                } else if (link.client >= 0) {
                    if (!WriteAll(link.client, buffer, static_cast<std::size_t>(n))) {
                        CloseFd(link.client);
                        CloseFd(link.server);
                    }
                }
            }
            if (link.client < 0 && link.server >= 0 && link.closeServerAt != Clock::time_point{} &&
                now >= link.closeServerAt)
                CloseFd(link.server);
        }
        std::erase_if(links, [](const Link& l) { return l.client < 0 && l.server < 0; });
    }
}

} // namespace sorvanto::test
