// Widget-free logic behind the chart's commands: text conversions of the page
// size and alarm-limit edits, key filters, the bitmap file name rule, the
// enlarge/restore layout and the Fill switch. The main window passes in the
// states of its controls and applies what comes back.
#pragma once

#include <QChar>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <stdexcept>

namespace orvex {

class TChartControl;

// Raised for a text that is not a whole 32-bit number; what() is the
// user-facing text "'<text>' is not a valid integer value" (UTF-8).
class EChartConvertError : public std::runtime_error {
  public:
    explicit EChartConvertError(const QString& text);
};

// Whole decimal number with an optional sign, in the 32-bit range; anything
// else (empty, blanks, other characters, too large) throws EChartConvertError.
int StrToInt(const QString& text);

// Page size text of Maxrecord as used by Timer2Timer (throws as StrToInt).
inline int PageSizeFromText(const QString& text) {
    return StrToInt(text);
}

// Alarm limit of Setmax / SetMin: "-", "+" and "" give 0, else the integer as
// a single-precision number; a bad text throws EChartConvertError.
float AlarmLimitFromText(const QString& text);

// Key filter of Setmax and SetMin: digits, backspace, '+' and '-'.
bool SetmaxKeyAccepted(QChar key);

// The bitmap file name: keeps an extension that is exactly "bmp", otherwise
// replaces the extension by ".bmp" or appends ".bmp" when there is none.
QString BitmapFileName(const QString& chosen);

QString SaveSuccessText(const QString& fileName);
QString CannotCreateFileText(const QString& fileName, const QString& reason);

// The chart's remembered place while it is enlarged (four integers, 0 at start).
struct ChartBounds {
    int Top = 0;
    int Left = 0;
    int Height = 0;
    int Width = 0;
    bool operator==(const ChartBounds&) const = default;
};

// What TbFdClick makes of the window: the chart's new geometry, the bounds to
// keep in SavedChartBounds, the controls shown and the place of Panel5.
struct ChartLayout {
    QRect chart;
    ChartBounds saved;
    bool panel1Visible = true;
    bool panel6Visible = true;
    bool tbFdVisible = true;
    bool tbSxVisible = false;
    QPoint panel5Pos;
    bool enlarged = false;
};

// The outer size of the window the layout was drawn for, from its client area:
// borders of 4 pixels, a title bar and a menu bar of 49 pixels together. With it
// the enlarged chart covers the judge panel, the record grid and the record
// toolbar up to the client area's right and bottom edges.
inline QSize ReferenceOuterSize(const QSize& client) {
    return client + QSize(8, 57);
}

// chart: the chart's current geometry; windowOuter: the window's outer size
// (frame, title bar and menu bar included); saved: SavedChartBounds.
ChartLayout ToggleChartLayout(const QRect& chart, const QSize& windowOuter,
                              const ChartBounds& saved);

// The Fill switch: the state of the check box BtFill, the menu item "Fill"
// and the series to show (0 area, 1 line). They always agree.
struct FillState {
    bool btFillChecked = true;
    bool menuFillChecked = true;
    int series = 0;
};

// btFillClick: the menu item follows BtFill.
FillState BtFillClicked(bool btFillChecked);
// FillClick: the menu item toggles BtFill and the item together.
FillState FillMenuClicked(bool btFillChecked);
// The series to show for a BtFill state (0 when checked, else 1).
inline int SeriesForFill(bool btFillChecked) {
    return btFillChecked ? 0 : 1;
}

// The frame's vertical chart range: for every lit decimal point, in the order
// LcdP0 ... LcdP3, maximum then minimum of the value axis (±22 for LcdP0 and
// LcdP1, ±220 for LcdP2, ±2200 for LcdP3), so the last lit point wins. No lit
// point leaves the axis alone. A refused limit throws EChartAxisError.
void ApplyPointAxisRange(TChartControl& pager, bool p0, bool p1, bool p2, bool p3);

// The alarm: true when an armed limit is crossed (strictly).
bool AlarmCrossed(double counts, float maxLimit, bool maxArmed, float minLimit, bool minArmed);

} // namespace orvex
