// SPDX-License-Identifier: GPL-3.0-or-later
#include "slowline.h"

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;
};

// One direction of a connection: what is read is written on when its delay
// is over, in order; reading goes on meanwhile.
void pump(int from, int to, int delayMs, const std::atomic<bool>& stop)
{
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Chunk> queue;
    bool ended = false;
    std::thread writer([&] {
        std::unique_lock lock(mutex);
        for (;;) {
            ready.wait(lock, [&] { return ended || !queue.empty(); });
            if (queue.empty())
                break;
            Chunk chunk = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            std::this_thread::sleep_until(chunk.due);
            const char* data = chunk.bytes.data();
            std::size_t left = chunk.bytes.size();
            while (left > 0) {
                const ssize_t sent = ::send(to, data, left, MSG_NOSIGNAL);
                if (sent <= 0)
                    break;
                data += sent;
                left -= std::size_t(sent);
            }
            lock.lock();
        }
        ::shutdown(to, SHUT_WR);
    });
    char buffer[65536];
    while (!stop) {
        pollfd waiting{from, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0)
            continue;
        const ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        std::lock_guard lock(mutex);
        queue.push_back({Clock::now() + std::chrono::milliseconds(delayMs),
                         std::vector<char>(buffer, buffer + got)});
        ready.notify_one();
    }
    {
        std::lock_guard lock(mutex);
        ended = true;
        ready.notify_one();
    }
    writer.join();
}

int connectTo(std::uint16_t port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

void noDelay(int s)
{
    const int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

SlowLine::SlowLine(std::uint16_t serverPort, int delayMs)
    : m_serverPort(serverPort), m_delayMs(delayMs)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_listener, 256) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("slow line: no port on 127.0.0.1");
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { accept(); });
}

SlowLine::~SlowLine()
{
    m_stop = true;
    m_acceptor.join();
    for (std::thread& pumpThread : m_pumps)
        pumpThread.join();
    ::close(m_listener);
}

void SlowLine::accept()
{
    while (!m_stop) {
        pollfd waiting{m_listener, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0)
            continue;
        const int client = ::accept(m_listener, nullptr, nullptr);
        const int server = client < 0 ? -1 : connectTo(m_serverPort);
        if (server < 0) {
            if (client >= 0)
                ::close(client);
            continue;
        }
        noDelay(client);
        noDelay(server);
        m_pumps.emplace_back([this, client, server] {
            std::thread back([&] { pump(server, client, m_delayMs, m_stop); });
            pump(client, server, m_delayMs, m_stop);
            back.join();
            ::close(client);
            ::close(server);
        });
    }
}
