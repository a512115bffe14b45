#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sorvanto::test {

// A TCP relay on loopback between Firebird clients and a server, for tests that lose the link at
// a chosen moment. It passes everything through until told otherwise; each client connection
// gets a connection of its own to the server.
class TcpRelay {
public:
    explicit TcpRelay(int serverPort);
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    int Port() const noexcept { return port_; }

    // The next answer the server sends on a link is not delivered: the client's side of that
    // link is cut as soon as it arrives. The server's side stays open a while, so the server
    // finishes what it was asked (its answer was written after the work was done) before it
    // sees the link go.
    void DropNextAnswer();
    // Cuts every link at once, both sides: what was not yet sent never arrives.
    void CutNow();
    // Links cut so far, by either of the two.
    int Cuts() const noexcept { return cuts_.load(); }

private:
    struct Link;
    void Run();
    void Command(char c);

    int listener_ = -1;
    int port_ = 0;
    int serverPort_;
    int wake_[2] = {-1, -1};
    std::atomic<int> cuts_{0};
    std::thread thread_;
};

} // namespace sorvanto::test
