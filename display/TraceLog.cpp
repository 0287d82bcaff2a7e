#include "display/TraceLog.h"

#include <algorithm>
#include <stdexcept>

namespace orvex {

TTraceLog::TTraceLog(int capacity) : capacity_(std::max(1, capacity)) {}

void TTraceLog::append(const QString& line) {
    if (count_ < capacity_) {
        if (static_cast<int>(ring_.size()) < capacity_) {
            ring_.push_back(line);
        } else {
            ring_[static_cast<std::size_t>((first_ + count_) % capacity_)] = line;
        }
        ++count_;
        return;
    }
    ring_[static_cast<std::size_t>(first_)] = line;
    first_ = (first_ + 1) % capacity_;
    ++dropped_;
}

void TTraceLog::clear() {
    ring_.clear();
    first_ = 0;
    count_ = 0;
    dropped_ = 0;
}

const QString& TTraceLog::line(int i) const {
    if (i < 0 || i >= count_) throw std::out_of_range("trace log line out of range");
    return ring_[static_cast<std::size_t>((first_ + i) % capacity_)];
}

QStringList TTraceLog::lines() const {
    QStringList out;
    out.reserve(count_);
    for (int i = 0; i < count_; ++i)
        out.append(line(i));
    return out;
}

QString TTraceLog::text() const {
    return lines().join(QLatin1Char('\n'));
}

} // namespace orvex
