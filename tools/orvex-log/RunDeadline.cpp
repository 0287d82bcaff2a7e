#include "tools/orvex-log/RunDeadline.h"

#include "tools/orvex-log/LogOptions.h"

#include <algorithm>
#include <cmath>

namespace orvex {

qint64 TRunDeadline::Milliseconds(double seconds) {
    if (!(seconds > 0)) return 0;
    const double ms = std::ceil(std::min(seconds, kMaxLogSeconds) * 1000.0);
    return static_cast<qint64>(ms);
}

int TRunDeadline::StepMs(qint64 remainingMs) {
    return static_cast<int>(std::clamp<qint64>(remainingMs, 0, kMaxStepMs));
}

TRunDeadline::TRunDeadline(double seconds, std::function<void()> expired, QObject* parent)
    : QObject(parent), deadline_(Milliseconds(seconds), Qt::PreciseTimer),
      expired_(std::move(expired)) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (deadline_.hasExpired()) {
            if (expired_) expired_();
            return;
        }
        Arm(); // a step of a longer wait
    });
    Arm();
}

void TRunDeadline::Arm() {
    timer_.start(StepMs(deadline_.remainingTime()));
}

} // namespace orvex
