// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>
#include <functional>
#include <vector>

class TStoreBackend;

// The posting context: brackets a posting of the suite. A posting is one
// writing transaction of the settings store, from BeginPosting to EndPosting:
// it holds the store's write lock from its start, every access inside it joins
// it, and EndPosting commits it. Postings nest; each BeginPosting must be
// closed by one EndPosting, or by CancelPosting, which gives back everything
// the posting wrote.
class TQuorBuchung
{
public:
    // Posts to the program context's store.
    TQuorBuchung() = default;
    // Posts to this store (programs without a window).
    explicit TQuorBuchung(TStoreBackend& store) : m_store(&store) {}

    void BeginPosting(char kind, int a, int b, qint64& postingNumber);
    void EndPosting(int flag);
    void CancelPosting() noexcept;

    // The store ended the innermost posting's transaction by itself: nothing
    // of it is kept, and it can only be cancelled.
    bool PostingLost() const;
    // Runs body, which begins and ends one posting through this context. The
    // store may send the posting's writes together with its end; should it
    // refuse one of them, nothing of the posting was kept, and body runs once
    // more with its writes going one at a time, where each of its steps fails
    // on its own.
    void Post(const std::function<void()>& body);

    int OpenPostings() const { return int(m_stores.size()); }
    int BegunPostings() const { return m_begun; }
    int EndedPostings() const { return m_ended; }

    // Counts begun and ended postings anew; the open ones stay open.
    void ResetCounters() { m_begun = m_ended = 0; }

private:
    int m_begun = 0;
    int m_ended = 0;
    qint64 m_lastNumber = 0;
    // Inside Post: the outermost posting's writes may go with its end.
    bool m_writesAhead = false;
    TStoreBackend* m_store = nullptr;
    TStoreBackend* m_last = nullptr;
    // The store each open posting writes to, innermost last.
    std::vector<TStoreBackend*> m_stores;
};

TQuorBuchung& QuorBuchung(bool flag);
