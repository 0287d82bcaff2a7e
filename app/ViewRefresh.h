#pragma once
// Brings what a person sees up to date at most once per screen refresh.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class QWidget;

namespace orvex {

// Every decoded frame changes the model at once (reading, verdict, table, chart
// points); the controls that show it are brought up to date by one refresh, at
// most once per refresh period of the window's screen.  While the window is
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

    // The shortest time between two refreshes, from the screen's refresh rate.
    int PeriodMs() const;

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
