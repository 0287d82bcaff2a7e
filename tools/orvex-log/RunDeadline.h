#pragma once
// Ends a live run after --seconds, however long.  A QTimer takes at most
// 2^31 - 1 milliseconds (about 24.8 days), so the wait is kept as a deadline on
// the monotonic clock and a timer is armed for at most kMaxStepMs at a time.

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace orvex {

class TRunDeadline : public QObject {
    Q_OBJECT
  public:
    // The longest single wait of the timer: one day.
    static constexpr qint64 kMaxStepMs = 24LL * 3600 * 1000;

    // Calls `expired` once, `seconds` from now (a finite number above 0).
    TRunDeadline(double seconds, std::function<void()> expired, QObject* parent = nullptr);

    // Milliseconds until the deadline (0 once it has passed).
    qint64 remainingMs() const { return deadline_.remainingTime(); }
    // The interval the timer waits now.
    int currentStepMs() const { return timer_.interval(); }
    bool active() const { return timer_.isActive(); }

    // The next wait for `remainingMs` still to go: never more than kMaxStepMs.
    static int StepMs(qint64 remainingMs);
    // Whole milliseconds of `seconds`, rounded up, 0 for what is not above 0.
    static qint64 Milliseconds(double seconds);

  private:
    void Arm();

    QDeadlineTimer deadline_;
    QTimer timer_;
    std::function<void()> expired_;
};

} // namespace orvex
