// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exception>
#include <utility>

// An open access bracket (of a store or of a record file), ended exactly once.
// close() ends it and passes the end's failure on. A scope left without
// close(), by a failure, gives back what the bracket wrote and ends it; a
// failure of that end is of no account, so the first failure is the one
// passed on.
template <typename Bracket, void (Bracket::*MarkFailed)() = &Bracket::markFailed,
          void (Bracket::*End)() = &Bracket::endAccess>
class TAccessGuard
{
public:
    // The bracket has been begun.
    explicit TAccessGuard(Bracket& bracket) : m_bracket(&bracket) {}
    TAccessGuard(const TAccessGuard&) = delete;
    TAccessGuard& operator=(const TAccessGuard&) = delete;
    ~TAccessGuard() { giveBack(); }

    void close() { (std::exchange(m_bracket, nullptr)->*End)(); }

    void giveBack() noexcept
    {
        Bracket* bracket = std::exchange(m_bracket, nullptr);
        if (!bracket)
            return;
        try {
            (bracket->*MarkFailed)();
            (bracket->*End)();
        } catch (const std::exception&) {
        }
    }

private:
    Bracket* m_bracket;
};
