#include "chart/ChartCommands.h"

#include "chart/TChartControl.h"

#include <limits>

namespace orvex {

EChartConvertError::EChartConvertError(const QString& text)
    : std::runtime_error(
          QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString()) {}

int StrToInt(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size()) throw EChartConvertError(text);
    long long value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9') throw EChartConvertError(text);
        value = value * 10 + (c.unicode() - u'0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1)
            throw EChartConvertError(text);
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        throw EChartConvertError(text);
    return static_cast<int>(value);
}

float AlarmLimitFromText(const QString& text) {
    if (text.isEmpty() || text == u"-" || text == u"+") return 0.0f;
    return static_cast<float>(StrToInt(text));
}

bool SetmaxKeyAccepted(QChar key) {
    return (key >= u'0' && key <= u'9') || key == u'\b' || key == u'+' || key == u'-';
}

QString BitmapFileName(const QString& chosen) {
    const qsizetype slash = chosen.lastIndexOf(u'/');
    const qsizetype dot = chosen.lastIndexOf(u'.');
    if (dot <= slash) return chosen + QStringLiteral(".bmp");
    if (chosen.mid(dot + 1) == u"bmp") return chosen;
    return chosen.left(dot) + QStringLiteral(".bmp");
}

QString SaveSuccessText(const QString& fileName) {
    return QStringLiteral("Graphic has been saved successfully at the following location: %1")
        .arg(fileName);
}

QString CannotCreateFileText(const QString& fileName, const QString& reason) {
    return QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, reason);
}

ChartLayout ToggleChartLayout(const QRect& chart, const QSize& windowOuter,
                              const ChartBounds& saved) {
    ChartLayout out;
    if (chart.top() > 50) {
        out.enlarged = true;
        out.panel1Visible = false;
        out.tbFdVisible = false;
        out.tbSxVisible = true;
        out.saved = ChartBounds{chart.top(), chart.left(), chart.height(), chart.width()};
        out.chart = QRect(2, 28, windowOuter.width() - 12, windowOuter.height() - 85);
        out.panel6Visible = false;
        out.panel5Pos = QPoint(2, 2);
    } else {
        out.enlarged = false;
        out.panel1Visible = true;
        out.tbSxVisible = false;
        out.tbFdVisible = true;
        out.saved = saved;
        out.chart = QRect(saved.Left, saved.Top, saved.Width, saved.Height);
        out.panel6Visible = true;
        out.panel5Pos = QPoint(341, 166);
    }
    return out;
}

FillState BtFillClicked(bool btFillChecked) {
    return FillState{btFillChecked, btFillChecked, SeriesForFill(btFillChecked)};
}

FillState FillMenuClicked(bool btFillChecked) {
    const bool now = !btFillChecked;
    return FillState{now, now, SeriesForFill(now)};
}

void ApplyPointAxisRange(TChartControl& pager, bool p0, bool p1, bool p2, bool p3) {
    const std::pair<bool, double> points[] = {{p0, 22.0}, {p1, 22.0}, {p2, 220.0}, {p3, 2200.0}};
    for (const auto& [lit, range] : points) {
        if (!lit) continue;
        pager.SetAxisMax(range);
        pager.SetAxisMin(-range);
    }
}

bool AlarmCrossed(double counts, float maxLimit, bool maxArmed, float minLimit, bool minArmed) {
    return (maxArmed && counts > static_cast<double>(maxLimit)) ||
           (minArmed && counts < static_cast<double>(minLimit));
}

} // namespace orvex
