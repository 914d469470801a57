// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <atomic>
#include <thread>

// A TCP proxy on 127.0.0.1 in front of the test cluster's Unix socket that
// plays a bad line: it stands still (every connection, or those open now), it
// cuts the connection at the n-th sync point a program sends (a Sync or a
// simple query, where the server answers what came before), it fails the
// line at the n-th end of an answer the server sends (a CommandComplete or
// ReadyForQuery), or it holds the program's writer's COMMIT back while the
// test fails the server.
class PgProxy
{
public:
    explicit PgProxy(const QString& socketPath);
    // The Unix socket of a server in its folder on its port, and the test cluster's.
    static QString socketOf(const QString& dir, const QString& port);
    static QString testClusterSocket();
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

    // What becomes of an answer's end and all after it, on its connection.
    enum class Fault {
        Cut,             // both sides closed, the message not forwarded
        Withhold,        // held from the program for the given time, then forwarded
        WithholdForGood, // the line stands still both ways; both sides stay open
        HalfOpen,        // the program's side closed; the server's stays open, read and dropped
        Duplicate,       // the message comes twice
    };
    // Does fault at the n-th CommandComplete or ReadyForQuery from now on,
    // once, counting those of a writer's transaction: from its first batch to
    // the end of its COMMIT's.
    void faultAt(int n, Fault fault, int withholdMs = 0);
    // CommandCompletes and ReadyForQuerys sent to the programs since the last faultAt.
    int answerEnds() const { return m_answerEnds; }
    // The armed fault has happened.
    bool faulted() const { return m_faultDone; }
    // A connection still withholds what it is to forward later.
    bool withholding() const { return m_withholding; }

    // A writer's COMMIT held back, once: what the program sends from the
    // COMMIT on, or from the Sync after it (the COMMIT itself runs).
    enum class Hold { BeforeCommit, SyncAfterCommit };
    void holdAt(Hold hold);
    // Waits up to milliseconds for the hold to be in place.
    bool waitForHold(int milliseconds) const;
    // What was held goes on.
    void release() { m_release = true; }

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
    std::atomic<int> m_answerEnds{0};
    std::atomic<int> m_faultAt{0};
    std::atomic<int> m_fault{0};
    std::atomic<int> m_withholdMs{0};
    std::atomic<bool> m_faultDone{false};
    std::atomic<bool> m_withholding{false};
    std::atomic<int> m_hold{-1};
    std::atomic<bool> m_holding{false};
    std::atomic<bool> m_release{false};
    std::thread m_thread;
};
