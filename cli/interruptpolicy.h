#pragma once

#include <atomic>

// What each Ctrl+C does, the same on every platform: the first interrupts the run, the second
// asks to report and quit, and later ones are ignored while the program answers the quit; one
// that comes when it has not taken up the quit for two seconds ends the process at once. Only
// atomics: a Unix signal handler may call it.
class InterruptPolicy
{
public:
    enum class Action { Interrupt, Quit, Ignore, ExitNow };
    static constexpr int exitStatus = 130;

    // nowMs: a monotonic clock in milliseconds, as the platform reads it.
    Action onInterrupt(long long nowMs)
    {
        const int count = m_count.fetch_add(1) + 1;
        if (count == 1)
            return Action::Interrupt;
        if (count == 2) {
            m_secondAt.store(nowMs);
            return Action::Quit;
        }
        // Interrupts in quick succession must not cut off the report the quit writes.
        if (m_quitAnswered.load() || nowMs - m_secondAt.load() < answerTimeMs)
            return Action::Ignore;
        return Action::ExitNow;
    }
    // The program took up the quit: from then on it writes the report and ends by itself.
    void quitAnswered() { m_quitAnswered.store(true); }

private:
    static constexpr long long answerTimeMs = 2000;
    std::atomic<int> m_count = 0;
    std::atomic<long long> m_secondAt = 0;
    std::atomic<bool> m_quitAnswered = false;
};
