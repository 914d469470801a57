#pragma once

#include <QtGlobal>
#include <functional>

// The posting context: brackets a posting of the suite. Postings nest; each
// BeginPosting must be closed by one EndPosting.
class TQuorBuchung
{
public:
    void BeginPosting(char kind, int a, int b, qint64& postingNumber);
    void EndPosting(int flag);

    int OpenPostings() const { return m_open; }
    int BegunPostings() const { return m_begun; }
    int EndedPostings() const { return m_ended; }

    // Tests make a step fail by throwing from the hook ("BeginPosting", "EndPosting").
    using TFaultHook = std::function<void(const char* operation)>;
    void SetFaultHook(TFaultHook hook) { m_faultHook = std::move(hook); }
    void ResetCounters() { m_open = m_begun = m_ended = 0; }

private:
    int m_open = 0;
    int m_begun = 0;
    int m_ended = 0;
    qint64 m_lastNumber = 0;
    TFaultHook m_faultHook;
};

TQuorBuchung& QuorBuchung(bool flag);
