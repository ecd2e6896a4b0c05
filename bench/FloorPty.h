// A pseudo-terminal whose far end answers with the least work possible: the floor against which the link's
// own costs are measured in the same run.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

class CFloorPty {
public:
    // Called on the pty's own thread with each chunk that arrives; it writes its answer to the master itself.
    using Responder = std::function<void(int masterFd, const uint8_t* bytes, std::size_t count)>;

    explicit CFloorPty(Responder responder) : m_respond(std::move(responder)) {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 || pipe(m_wake) != 0)
            std::abort();
        m_path = ptsname(m_master);
        m_thread = std::thread([this] { Run(); });
    }
    ~CFloorPty() {
        if (write(m_wake[1], "x", 1) < 0) std::perror("wake");
        m_thread.join();
        close(m_master);
        close(m_wake[0]);
        close(m_wake[1]);
    }
    CFloorPty(const CFloorPty&) = delete;
    CFloorPty& operator=(const CFloorPty&) = delete;

    const std::string& Path() const { return m_path; }

private:
    void Run() {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        uint8_t buffer[256];
        while (poll(fds, 2, -1) > 0 && !(fds[1].revents & POLLIN)) {
            if (fds[0].revents & POLLIN) {
                const ssize_t n = read(m_master, buffer, sizeof buffer);
                if (n > 0) m_respond(m_master, buffer, static_cast<std::size_t>(n));
            } else if (fds[0].revents) {
                usleep(1000);  // no slave open yet
            }
        }
    }

    Responder m_respond;
    int m_master = -1;
    int m_wake[2] = {-1, -1};
    std::string m_path;
    std::thread m_thread;
};
