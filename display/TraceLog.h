#pragma once
// A bounded diagnostic text log (the hidden "Memo1" / "Memo2" of the panel).

#include <QString>
#include <QStringList>

#include <cstddef>
#include <vector>

namespace orvex {

// Keeps the newest `capacity` lines; older lines fall off the front.  Appending is
// O(1) and never reallocates once the log is full.
class TTraceLog {
  public:
    static constexpr int kDefaultCapacity = 2000;

    explicit TTraceLog(int capacity = kDefaultCapacity);

    void append(const QString& line);
    void clear();

    int capacity() const { return capacity_; }
    int lineCount() const { return count_; }
    // Line i, 0 = the oldest line kept.
    const QString& line(int i) const;
    const QString& lastLine() const { return line(count_ - 1); }
    // Lines dropped at the front since the last clear().
    long long droppedCount() const { return dropped_; }

    QStringList lines() const;
    // The kept lines joined by "\n", as a text box would show them.
    QString text() const;

  private:
    std::vector<QString> ring_;
    int capacity_;
    int first_ = 0;
    int count_ = 0;
    long long dropped_ = 0;
};

} // namespace orvex
