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
    void BeginPosting(char kind, int a, int b, qint64& postingNumber);
    void EndPosting(int flag);
    void CancelPosting() noexcept;
    // Posts to this store instead of the suite's configured one (store tool, tests).
    void SetStore(TStoreBackend* store) { m_store = store; }

    // The store ended the innermost posting's transaction by itself: nothing
    // of it is kept, and it can only be cancelled.
    bool PostingLost() const;

    int OpenPostings() const { return m_open; }
    int BegunPostings() const { return m_begun; }
    int EndedPostings() const { return m_ended; }

    // Tests make a step fail by throwing from the hook ("BeginPosting", "EndPosting").
    using TFaultHook = std::function<void(const char* operation)>;
    void SetFaultHook(TFaultHook hook) { m_faultHook = std::move(hook); }
    void ResetCounters() { m_open = m_begun = m_ended = 0; }

private:
    // Rolls the innermost posting's transaction back.
    void giveBack() noexcept;

    int m_open = 0;
    int m_begun = 0;
    int m_ended = 0;
    qint64 m_lastNumber = 0;
    TStoreBackend* m_store = nullptr;
    // The store each open posting writes to, innermost last.
    std::vector<TStoreBackend*> m_stores;
    TFaultHook m_faultHook;
};

TQuorBuchung& QuorBuchung(bool flag);
