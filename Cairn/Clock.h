#pragma once

#include <QDateTime>
#include <functional>

namespace Cairn {

// The one source of "now" for the analytics client. Tests freeze it and move it by hand, so
// that ten-second rules, back-off and ninety-day windows can be checked without waiting.
namespace Clock {
    // Current time in UTC: the system clock, or the frozen time while one is set.
    QDateTime now();
    qint64 nowMSecs();
    // Freezes the clock at the given moment (tests).
    void setFixed(const QDateTime &moment);
    // Moves a frozen clock forward (or back, with a negative amount).
    void advance(qint64 milliseconds);
    // Back to the system clock.
    void useSystem();
    bool isFixed();

    // Called (on the thread that changed it) whenever the clock is set, moved or released, so
    // that timers reckoned in this clock look again. Returns an id for removeObserver; once
    // that returns, the callback is not running and will not run again.
    int addObserver(std::function<void()> callback);
    void removeObserver(int id);
} // namespace Clock

} // namespace Cairn
