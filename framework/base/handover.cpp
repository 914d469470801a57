// SPDX-License-Identifier: GPL-3.0-or-later
#include "handover.h"

#include <QThread>

TSideThread::TSideThread(std::function<void()> work, std::function<void()> stop)
    : m_work(std::move(work)), m_stop(std::move(stop))
{
    m_thread.reset(QThread::create([this] {
        try {
            m_work();
        } catch (...) {
            m_failure = std::current_exception();
        }
    }));
    m_thread->start();
}

TSideThread::~TSideThread()
{
    if (!m_thread)
        return;
    m_stop();
    m_thread->wait();
}

void TSideThread::wait()
{
    if (const std::unique_ptr<QThread> thread = std::move(m_thread))
        thread->wait();
    if (m_failure)
        std::rethrow_exception(std::exchange(m_failure, nullptr));
}
