// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMutex>
#include <QWaitCondition>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QThread;

// Batches handed from one thread to another, at most depth of them waiting:
// the maker never runs far ahead of the taker, and memory holds a few batches.
// A bulk step so reads its file on one core while the store takes what was
// read before on the other.
template <typename Batch> class THandover
{
public:
    explicit THandover(std::size_t depth = 2) : m_depth(depth) {}

    // Waits for room; false once the taker has stopped: the maker stops too.
    bool put(Batch&& batch)
    {
        QMutexLocker lock(&m_mutex);
        while (!m_stopped && m_batches.size() >= m_depth)
            m_changed.wait(&m_mutex);
        if (m_stopped)
            return false;
        m_batches.push_back(std::move(batch));
        m_changed.wakeAll();
        return true;
    }
    // The next batch; none once the maker has finished and every batch is
    // taken, or once either has stopped.
    std::optional<Batch> take()
    {
        QMutexLocker lock(&m_mutex);
        while (!m_stopped && !m_finished && m_batches.empty())
            m_changed.wait(&m_mutex);
        if (m_stopped || m_batches.empty())
            return std::nullopt;
        std::optional<Batch> batch(std::move(m_batches.front()));
        m_batches.pop_front();
        m_changed.wakeAll();
        return batch;
    }
    // The maker has made its last batch.
    void finish()
    {
        QMutexLocker lock(&m_mutex);
        m_finished = true;
        m_changed.wakeAll();
    }
    // Either side gives up: the other one's next put or take says so.
    void stop()
    {
        QMutexLocker lock(&m_mutex);
        m_stopped = true;
        m_batches.clear();
        m_changed.wakeAll();
    }

private:
    QMutex m_mutex;
    QWaitCondition m_changed;
    std::deque<Batch> m_batches;
    std::size_t m_depth;
    bool m_finished = false;
    bool m_stopped = false;
};

// Runs work on a thread of its own. wait() waits for its end and throws what
// it threw; leaving the scope without wait() calls stop first, which makes
// work return soon (a THandover's stop(): its next put fails), and waits for
// it without a word.
class TSideThread
{
public:
    TSideThread(std::function<void()> work, std::function<void()> stop);
    TSideThread(const TSideThread&) = delete;
    TSideThread& operator=(const TSideThread&) = delete;
    ~TSideThread();
    void wait();

private:
    std::function<void()> m_work;
    std::function<void()> m_stop;
    std::exception_ptr m_failure;
    std::unique_ptr<QThread> m_thread;
};
