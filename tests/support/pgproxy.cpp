// SPDX-License-Identifier: GPL-3.0-or-later
#include "pgproxy.h"

#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string_view>
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

// One program's connection to the server, and what is not yet forwarded of
// it: only whole messages go on, so that a fault falls between two.
struct Link {
    int client = -1;
    int server = -1;
    bool started = false;
    std::string pending;
    bool frozen = false;
    // The server's one-byte answers to SSL and GSS requests still to come;
    // after a yes, the line is encrypted and passed on as it is.
    int requests = 0;
    bool opaque = false;
    std::string answers;
    // Held from the program, until resumeAt or for good.
    bool withholding = false;
    std::optional<std::chrono::steady_clock::time_point> resumeAt;
    std::string withheld;
    // Withheld for good: nothing passes either way.
    bool still = false;
    // The writers' lock was asked for: the next COMMIT is the writer's.
    bool writer = false;
    // The server's answers count from the writer's first batch to the end of
    // its COMMIT's batch.
    bool counting = false;
    // Sync points the program sent, and ReadyForQuerys the server sent: the
    // writer's answers come once those of the batches before it have been
    // sent (the first ReadyForQuery ends the start-up).
    int syncs = 0;
    int readies = -1;
    int countFrom = 0;
    bool holdAtSync = false;
    bool holding = false;
};

void sendAll(int to, const char* data, std::size_t size)
{
    // A side that has gone is no reason to die of SIGPIPE.
    if (to >= 0)
        (void)!::send(to, data, size, MSG_NOSIGNAL);
}

// The statement text of a Parse or a simple query.
std::string_view statementText(const char* message, std::size_t size)
{
    const char* body = message + 5;
    const char* end = message + size;
    if (message[0] == 'P')
        body = std::find(body, end, '\0') + 1;
    if (body >= end)
        return {};
    return {body, std::size_t(std::find(body, end, '\0') - body)};
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

void PgProxy::faultAt(int n, Fault fault, int withholdMs)
{
    m_fault = int(fault);
    m_withholdMs = withholdMs;
    m_faultDone = false;
    m_answerEnds = 0;
    m_faultAt = n;
}

void PgProxy::holdAt(Hold hold)
{
    m_holding = false;
    m_release = false;
    m_hold = int(hold);
}

bool PgProxy::waitForHold(int milliseconds) const
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!m_holding) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void PgProxy::run()
{
    using Clock = std::chrono::steady_clock;
    std::vector<Link> links;
    auto closeClient = [](Link& link) {
        ::close(link.client);
        link.client = -1;
    };
    auto closeServer = [](Link& link) {
        ::close(link.server);
        link.server = -1;
    };
    auto close = [&](Link& link) {
        closeClient(link);
        closeServer(link);
    };
    // What the program sent, forwarded up to a cut or a hold.
    auto fromClient = [&](Link& link) {
        if (link.holding)
            return;
        // Whole messages only: the start-up packets have no type byte.
        std::size_t at = 0;
        for (;;) {
            const std::size_t header = link.started ? 5 : 4;
            if (link.pending.size() - at < header)
                break;
            const char* message = link.pending.data() + at;
            const std::size_t size = link.started ? 1 + bigEndian(message + 1) : bigEndian(message);
            if (link.pending.size() - at < size)
                break;
            const char type = message[0];
            if (!link.started) {
                // SSL and GSS requests come before the start-up message.
                const quint32 code = bigEndian(message + 4);
                link.started = code != 80877103 && code != 80877104;
                link.requests += link.started ? 0 : 1;
            } else {
                if (type == 'P' || type == 'Q') {
                    const std::string_view text = statementText(message, size);
                    if (text.find("pg_advisory_xact_lock") != std::string_view::npos) {
                        link.writer = link.counting = true;
                        link.countFrom = link.syncs;
                    } else if (text == "ROLLBACK") {
                        link.writer = false;
                    } else if (type == 'P' && text == "COMMIT" && link.writer) {
                        link.writer = false;
                        const int hold = m_hold.exchange(-1);
                        link.holding = hold == int(Hold::BeforeCommit);
                        link.holdAtSync = hold == int(Hold::SyncAfterCommit);
                    }
                }
                if (type == 'S' && link.holdAtSync) {
                    link.holdAtSync = false;
                    link.holding = true;
                }
                if (link.holding) {
                    m_holding = true;
                    break;
                }
                if ((type == 'S' || type == 'Q') && !m_cutDone) {
                    const int point = ++m_syncPoints;
                    if (point == m_cutAt) {
                        const std::size_t upTo = m_cutKind == int(Cut::After) ? at + size : at;
                        sendAll(link.server, link.pending.data(), upTo);
                        m_cutDone = true;
                        close(link);
                        return;
                    }
                }
            }
            if (link.started && (type == 'S' || type == 'Q'))
                ++link.syncs;
            at += size;
        }
        sendAll(link.server, link.pending.data(), at);
        link.pending.erase(0, at);
    };
    // What the server sent, forwarded up to a fault.
    auto fromServer = [&](Link& link) {
        std::string out;
        auto deliver = [&](const char* data, std::size_t size) {
            (link.withholding ? link.withheld : out).append(data, size);
        };
        std::size_t at = 0;
        while (at < link.answers.size()) {
            const char* message = link.answers.data() + at;
            std::size_t size = link.answers.size() - at;
            if (link.requests > 0) {
                --link.requests;
                link.opaque = message[0] == 'S' || message[0] == 'G';
                size = 1;
            } else if (!link.opaque) {
                if (size < 5 || size < 1 + bigEndian(message + 1))
                    break;
                size = 1 + bigEndian(message + 1);
                const bool counted = (message[0] == 'C' || message[0] == 'Z') && m_faultAt > 0 &&
                                     link.counting && link.readies >= link.countFrom;
                if (message[0] == 'Z')
                    ++link.readies;
                // A ReadyForQuery outside a transaction ends the writer's.
                if (counted && message[0] == 'Z' && message[5] == 'I')
                    link.counting = false;
                if (counted && ++m_answerEnds == m_faultAt) {
                    m_faultDone = true;
                    switch (Fault(m_fault.load())) {
                    case Fault::Cut:
                        sendAll(link.client, out.data(), out.size());
                        close(link);
                        return;
                    case Fault::Withhold:
                        link.withholding = true;
                        link.resumeAt = Clock::now() + std::chrono::milliseconds(m_withholdMs);
                        break;
                    case Fault::WithholdForGood:
                        link.withholding = link.still = true;
                        break;
                    case Fault::Duplicate:
                        deliver(message, size);
                        break;
                    case Fault::HalfOpen:
                        sendAll(link.client, out.data(), out.size());
                        out.clear();
                        closeClient(link);
                        break;
                    }
                }
            }
            deliver(message, size);
            at += size;
        }
        link.answers.erase(0, at);
        sendAll(link.client, out.data(), out.size());
    };
    const auto deadline = Clock::now() + std::chrono::minutes(5);
    while (!m_stop && Clock::now() < deadline) {
        if (m_freeze) {
            for (Link& link : links)
                link.frozen = true;
            m_freeze = false;
        }
        if (m_release) {
            m_release = false;
            m_holding = false;
            for (Link& link : links) {
                if (link.holding) {
                    link.holding = false;
                    fromClient(link);
                }
            }
        }
        bool withholding = false;
        for (Link& link : links) {
            if (link.resumeAt && Clock::now() >= *link.resumeAt) {
                link.resumeAt.reset();
                link.withholding = false;
                sendAll(link.client, link.withheld.data(), link.withheld.size());
                link.withheld.clear();
                if (link.server < 0)
                    closeClient(link);
            }
            withholding = withholding || (link.resumeAt && link.client >= 0);
        }
        m_withholding = withholding;
        std::vector<pollfd> fds{{m_listener, POLLIN, 0}};
        for (const Link& link : links) {
            const bool sends =
                link.client >= 0 && !m_stalled && (!link.frozen || m_answersOnly) && !link.still;
            const bool answers = link.server >= 0 && !m_stalled && !link.frozen;
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
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Link& link = links[(i - 1) / 2];
            const bool fromProgram = (i - 1) % 2 == 0;
            if (fds[i].fd != (fromProgram ? link.client : link.server))
                continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                // A server gone under a line that stands still or still owes
                // the program what it withheld leaves the program's side be.
                if (fromProgram || !(link.still || link.resumeAt))
                    closeClient(link);
                closeServer(link);
                continue;
            }
            if (fromProgram) {
                link.pending.append(buffer, std::size_t(n));
                fromClient(link);
            } else {
                link.answers.append(buffer, std::size_t(n));
                fromServer(link);
            }
        }
    }
    for (Link& link : links)
        close(link);
}

QString PgProxy::socketOf(const QString& dir, const QString& port)
{
    return QStringLiteral("%1/.s.PGSQL.%2").arg(dir, port);
}

QString PgProxy::testClusterSocket()
{
    return socketOf(qEnvironmentVariable("QUOR_TEST_PG_DIR"),
                    qEnvironmentVariable("QUOR_TEST_PG_PORT"));
}
