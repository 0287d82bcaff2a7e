#pragma once
// The replica of the meter's liquid-crystal display (the panel "Panel1").

#include "display/LcdFont.h"
#include "display/TraceLog.h"
#include "protocol/MeterReading.h"

#include <QFont>
#include <QFrame>
#include <QString>

#include <memory>

class QLabel;
class QProgressBar;

namespace orvex {

class TLcdPanel : public QFrame {
    Q_OBJECT
  public:
    // Builds the panel (334 x 181, object name "Panel1") in its design state:
    // 22000, nothing lit, bar at 20 of 40.  Every child carries its control name.
    explicit TLcdPanel(QWidget* parent = nullptr);
    ~TLcdPanel() override;

    // Shows a decoded reading: indicators, digits, leading-zero blanking, LCDsend.
    void RenderReading(const MeterReading& reading);
    void SetBarPosition(int position);
    void SetBarMaximum(int maximum);
    // Adds the diagnostic lines of one frame to Memo2 / Memo1.
    void AppendTrace(const QString& frameText, const QString& bitText);

    QProgressBar* PBar2() const;
    QLabel* LCDsend() const;
    TTraceLog& Memo1();
    TTraceLog& Memo2();

    // Digit label 0..4 (LcdD0, LcdDa, LcdDb, LcdDc, LcdDd).
    QLabel* Digit(int index) const;
    // The label, picture or point that shows an indicator.
    QWidget* IndicatorWidget(Indicator indicator) const;
    // The position last asked for by SetBarPosition (the bar shows it clamped to its range).
    int RequestedBarPosition() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void ApplyBar();

    struct Parts;
    std::unique_ptr<Parts> d_;
};

} // namespace orvex
