// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

// A branch office's line to the server: a TCP proxy on 127.0.0.1 that passes
// every byte on, each direction after the same delay.
class SlowLine
{
public:
    SlowLine(std::uint16_t serverPort, int delayMs);
    ~SlowLine();
    SlowLine(const SlowLine&) = delete;
    SlowLine& operator=(const SlowLine&) = delete;

    std::uint16_t port() const { return m_port; }

private:
    void accept();

    std::uint16_t m_serverPort;
    int m_delayMs;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_pumps;
};
