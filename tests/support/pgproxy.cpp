// SPDX-License-Identifier: GPL-3.0-or-later
#include "pgproxy.h"

#include <QUrl>
#include <QUrlQuery>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace
{
quint32 bigEndian(const char* bytes)
{
    quint32 value;
    std::memcpy(&value, bytes, 4);
    return ntohl(value);
}

// One program's connection to the server, and what it sent that is not yet
// forwarded: only whole messages go on, so that a cut falls between two.
struct Link {
    int client = -1;
    int server = -1;
    bool started = false;
    std::string pending;
    bool frozen = false;
};

void sendAll(int to, const char* data, std::size_t size)
{
    // A side that has gone is no reason to die of SIGPIPE.
    (void)!::send(to, data, size, MSG_NOSIGNAL);
}
} // namespace

PgProxy::PgProxy(const QString& socketPath) : m_socketPath(socketPath.toStdString())
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        qFatal("PgProxy: no port on 127.0.0.1");
    socklen_t size = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
    m_port = ntohs(address.sin_port);
    ::listen(m_listener, 16);
    m_thread = std::thread([this] { run(); });
}

PgProxy::~PgProxy()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
}

QString PgProxy::address(const QString& location) const
{
    const QString options =
        QUrlQuery(QUrl(location)).queryItemValue(QStringLiteral("options"), QUrl::FullyDecoded);
    return QStringLiteral("postgresql://postgres@127.0.0.1:%1/quortest?sslmode=disable&"
                          "gssencmode=disable&options=%2")
        .arg(m_port)
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(options)));
}

void PgProxy::freeze(bool answersOnly)
{
    m_answersOnly = answersOnly;
    m_freeze = true;
    while (m_freeze)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void PgProxy::cutAt(int n, Cut cut)
{
    m_cutKind = int(cut);
    m_cutDone = false;
    m_syncPoints = 0;
    m_cutAt = n;
}

void PgProxy::countFromNow()
{
    m_cutAt = 0;
    m_syncPoints = 0;
}

void PgProxy::run()
{
    std::vector<Link> links;
    auto close = [](Link& link) {
        ::close(link.client);
        ::close(link.server);
        link.client = link.server = -1;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (!m_stop && std::chrono::steady_clock::now() < deadline) {
        if (m_freeze) {
            for (Link& link : links)
                link.frozen = true;
            m_freeze = false;
        }
        std::vector<pollfd> fds{{m_listener, POLLIN, 0}};
        for (const Link& link : links) {
            const bool live = link.client >= 0 && !m_stalled;
            const bool sends = live && (!link.frozen || m_answersOnly);
            const bool answers = live && !link.frozen;
            fds.push_back({link.client, short(sends ? POLLIN : 0), 0});
            fds.push_back({link.server, short(answers ? POLLIN : 0), 0});
        }
        if (::poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            Link link;
            link.client = ::accept(m_listener, nullptr, nullptr);
            link.server = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, m_socketPath.c_str(), sizeof address.sun_path - 1);
            // A server that cannot be reached closes the client's side too.
            if (::connect(link.server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                ::shutdown(link.client, SHUT_RDWR);
            links.push_back(std::move(link));
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            Link& link = links[(i - 1) / 2];
            if (link.client < 0)
                continue;
            const bool fromClient = fds[i].fd == link.client;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(link);
                continue;
            }
            if (!fromClient) {
                sendAll(link.client, buffer, std::size_t(n));
                continue;
            }
            link.pending.append(buffer, std::size_t(n));
            // Whole messages only: the start-up packets have no type byte.
            std::size_t at = 0;
            for (;;) {
                const std::size_t header = link.started ? 5 : 4;
                if (link.pending.size() - at < header)
                    break;
                const char* message = link.pending.data() + at;
                const std::size_t size =
                    link.started ? 1 + bigEndian(message + 1) : bigEndian(message);
                if (link.pending.size() - at < size)
                    break;
                const char type = message[0];
                if (!link.started) {
                    // SSL and GSS requests come before the start-up message.
                    const quint32 code = bigEndian(message + 4);
                    link.started = code != 80877103 && code != 80877104;
                } else if ((type == 'S' || type == 'Q') && !m_cutDone) {
                    const int point = ++m_syncPoints;
                    if (point == m_cutAt) {
                        const std::size_t upTo = m_cutKind == int(Cut::After) ? at + size : at;
                        sendAll(link.server, link.pending.data(), upTo);
                        m_cutDone = true;
                        close(link);
                        break;
                    }
                }
                at += size;
            }
            if (link.client < 0)
                continue;
            sendAll(link.server, link.pending.data(), at);
            link.pending.erase(0, at);
        }
    }
    for (Link& link : links)
        if (link.client >= 0)
            close(link);
}
