#pragma once
// Brings what a person sees up to date at most once per screen refresh, and at
// most ten times a second.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class QWidget;

namespace orvex {

// Every decoded frame changes the model at once (reading, verdict, table, chart
// points); the controls that show it are brought up to date by one refresh, at
// most once per refresh period of the window's screen and at most ten times a
// second: a meter that streams a hundred readings a second still moves the chart
// and the bar smoothly at ten pictures a second, no one reads digits that change
// faster, and each picture costs the same however many frames it takes in.  A
// reading that comes after a quiet spell is drawn at once.  While the window is
// hidden or minimised nothing is drawn: the refresh waits until it is shown.
class TViewRefresh : public QObject {
    Q_OBJECT
  public:
    TViewRefresh(QWidget* window, std::function<void()> refresh);

    // Something shown changed: a refresh is due.
    void Request();
    // Runs a due refresh now, shown or not (for code and tests that read the
    // controls right after feeding frames).
    void Flush();
    bool Pending() const { return pending_; }
    // Refreshes run so far.
    long long count() const { return count_; }

    // The shortest time between two refreshes: the screen's refresh period, and
    // never less than kMinPeriodMs.
    int PeriodMs() const;
    static constexpr int kMinPeriodMs = 100;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool Drawable() const;
    void Run();

    QWidget* window_;
    std::function<void()> refresh_;
    QTimer timer_;
    QElapsedTimer last_;
    bool pending_ = false;
    long long count_ = 0;
};

} // namespace orvex
