// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <atomic>
#include <thread>

// A TCP proxy on 127.0.0.1 in front of the test cluster's Unix socket that
// plays a bad line: it stands still (every connection, or those open now), or
// it cuts the connection at the n-th sync point a program sends (a Sync or a
// simple query, where the server answers what came before).
class PgProxy
{
public:
    explicit PgProxy(const QString& socketPath);
    ~PgProxy();
    PgProxy(const PgProxy&) = delete;
    PgProxy& operator=(const PgProxy&) = delete;

    int port() const { return m_port; }
    // The test cluster's store of the schema in location, reached through the proxy.
    QString address(const QString& location) const;

    // Nothing goes through while on.
    void stall(bool on) { m_stalled = on; }
    // The connections open now stand still, new ones are forwarded: given
    // answersOnly, what the program sends still reaches the server.
    void freeze(bool answersOnly);

    // Where a cut falls: before the batch that ends at the sync point reaches
    // the server, or after it did, its answer lost.
    enum class Cut { Before, After };
    // Cuts the connection at the n-th sync point from now on, once.
    void cutAt(int n, Cut cut);
    // Sync points sent since the last cutAt or countFromNow.
    int syncPoints() const { return m_syncPoints; }
    void countFromNow();
    // The armed cut has happened.
    bool cut() const { return m_cutDone; }

private:
    void run();

    std::string m_socketPath;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_stalled{false};
    std::atomic<bool> m_freeze{false};
    std::atomic<bool> m_answersOnly{false};
    std::atomic<int> m_syncPoints{0};
    std::atomic<int> m_cutAt{0};
    std::atomic<int> m_cutKind{0};
    std::atomic<bool> m_cutDone{false};
    std::thread m_thread;
};
