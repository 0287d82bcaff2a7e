// The printed report: how fast pages are written as PDF, how much memory that
// takes, and how soon the window's preview shows its first page for a long table.
//
//   report_bench [--qt-preview]
//
// pages/s: a 10,000-row table (286 pages) written as a PDF file, best of 3.
// peak MB: the process's peak resident memory while writing it (the peak is
//          reset just before, where the kernel allows it).
// first page ms: a 100,000-row table (2,858 pages); from the click on "Print"
//          in the window until the preview has drawn its first page, median of 5.
// Also shown: the same PDF for 100,000 rows (2,858 pages), whose peak stays
//          that of 10,000 rows.
// --qt-preview: also times Qt's QPrintPreviewWidget on the same 100,000 rows,
//          which records every page before it shows one (for comparison).
//
// The last line sums it up:
//   report_bench: pages/s = N, peak MB = N, first page ms = N

#include "app/ReportPreview.h"
#include "app/TFCOMM.h"
#include "bench/BenchSupport.h"
#include "files/report/DataReport.h"
#include "recording/RecordTable.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using namespace orvex;

// A recording as the meter gives it: a few readings a second, a moving value,
// the judge flipping now and then.
void Fill(RecordTable& table, int rows) {
    RecordRow row;
    for (int i = 0; i < rows; ++i) {
        const int second = i / 3;
        const int counts = 10000 + int((std::int64_t(i) * 7919) % 40000);
        char time[16];
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", (second / 3600) % 24, (second / 60) % 60,
                      second % 60);
        row.fields[FieldNo] = FieldCell::Int(i + 1);
        row.fields[FieldTime] = FieldCell::Text(QString::fromLatin1(time));
        row.fields[FieldDcAc] = FieldCell::Text(QStringLiteral("DC"));
        row.fields[FieldValue] = FieldCell::Text(QString::number(counts / 10000.0, 'f', 4));
        row.fields[FieldUnit] = FieldCell::Text(QStringLiteral("V"));
        row.fields[FieldAuto] =
            FieldCell::Text((i / 50) % 4 ? QStringLiteral("Pass") : QStringLiteral("Fail"));
        row.fields[FieldNVal] = FieldCell::Int(counts);
        table.Append(row);
    }
}

// A "VmXXX:" line of /proc/self/status, in MB.
double StatusMb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key))).trimmed().split(' ')[0].toDouble() / 1024.0;
    return -1;
}

// Resets the peak resident memory to the current one (Linux 4.0 and later).
bool ResetPeak() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const orvex::bench::TScratchStateHome stateHome;
    QApplication app(argc, argv);
    const bool qtPreview = argc > 1 && std::strcmp(argv[1], "--qt-preview") == 0;
    QTemporaryDir dir;

    // ---- PDF: pages per second and peak memory --------------------------------------
    double pagesPerSecond = 0, peakMb = 0;
    {
        RecordTable table;
        Fill(table, 10000);
        const TDataReport report(table);
        const QString path = dir.filePath(QStringLiteral("report.pdf"));
        SaveReportPdf(report, path, 0, 0); // fonts loaded, caches warm
        const double before = StatusMb("VmRSS:");
        const bool reset = ResetPeak();
        for (int run = 0; run < 3; ++run) {
            QElapsedTimer t;
            t.start();
            const FileResult r = SaveReportPdf(report, path, 0, report.pageCount() - 1);
            const double seconds = double(t.nsecsElapsed()) / 1e9;
            if (!r.ok()) {
                std::fprintf(stderr, "report_bench: the PDF could not be written: %s\n",
                             qPrintable(r.error));
                return 1;
            }
            pagesPerSecond = std::max(pagesPerSecond, report.pageCount() / seconds);
        }
        peakMb = StatusMb("VmHWM:");
        std::printf("PDF of %d rows (%d pages, %.0f KB): %.0f pages/s; resident %.1f MB before, "
                    "peak %.1f MB while writing%s\n",
                    report.rowCount(), report.pageCount(), QFile(path).size() / 1024.0,
                    pagesPerSecond, before, peakMb, reset ? "" : " (process peak: no reset)");
    }

    // The same for ten times the rows: memory does not grow with the pages.
    {
        RecordTable table;
        Fill(table, 100000);
        const TDataReport report(table);
        const QString path = dir.filePath(QStringLiteral("long.pdf"));
        const double before = StatusMb("VmRSS:");
        const bool reset = ResetPeak();
        QElapsedTimer t;
        t.start();
        const FileResult r = SaveReportPdf(report, path, 0, report.pageCount() - 1);
        const double seconds = double(t.nsecsElapsed()) / 1e9;
        std::printf("PDF of %d rows (%d pages, %.1f MB)%s: %.0f pages/s; resident %.1f MB before, "
                    "peak %.1f MB while writing%s\n",
                    report.rowCount(), report.pageCount(), QFile(path).size() / 1048576.0,
                    r.ok() ? "" : " FAILED", report.pageCount() / seconds, before,
                    StatusMb("VmHWM:"), reset ? "" : " (process peak: no reset)");
    }

    // ---- the window's preview: time to the first page for 100,000 rows -------------
    std::vector<double> firstPage;
    double previewMb = 0;
    {
        TFCOMM window;
        window.show();
        Fill(window.state().recording.cds1, 100000);
        QApplication::processEvents();
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer t;
            bool seen = false;
            QTimer poll;
            poll.setInterval(0);
            QObject::connect(&poll, &QTimer::timeout, [&] {
                auto* preview = window.findChild<TReportPreview*>();
                if (!seen && preview && preview->pageView()->pagesPainted() > 0) {
                    seen = true;
                    firstPage.push_back(double(t.nsecsElapsed()) / 1e6);
                    previewMb = std::max(previewMb, StatusMb("VmRSS:"));
                    preview->reject();
                }
            });
            poll.start();
            t.start();
            window.control<QToolButton>(QStringLiteral("BtPrint"))->click();
            poll.stop();
        }
        std::printf("preview of 100000 rows (2858 pages): first page drawn after %.1f ms "
                    "(median of %zu), resident %.1f MB with the preview open\n",
                    Median(firstPage), firstPage.size(), previewMb);
    }

    if (qtPreview) {
        RecordTable table;
        Fill(table, 100000);
        const TDataReport report(table);
        const double before = StatusMb("VmRSS:");
        QPrintPreviewWidget widget;
        QObject::connect(&widget, &QPrintPreviewWidget::paintRequested,
                         [&](QPrinter* printer) { report.Print(*printer); });
        QElapsedTimer t;
        t.start();
        widget.show();
        widget.updatePreview();
        QApplication::processEvents();
        std::printf("Qt's QPrintPreviewWidget, same 100000 rows: %d pages recorded, first page "
                    "after %.0f ms, resident %.1f MB (%.1f MB before)\n",
                    widget.pageCount(), double(t.nsecsElapsed()) / 1e6, StatusMb("VmRSS:"), before);
    }

    std::printf("report_bench: pages/s = %.0f, peak MB = %.1f, first page ms = %.1f\n",
                pagesPerSecond, peakMb, Median(firstPage));
    return 0;
}
