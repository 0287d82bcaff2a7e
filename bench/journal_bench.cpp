// The session journal's cost on the user-interface thread: how long AppendRow
// takes per recorded row (its mean and its worst single call, while the writer
// thread writes and syncs), and how many rows a second the writer puts on disk.
// The last line is the summary.

#include "files/SessionJournal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace orvex;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    constexpr int kRows = 1'000'000;
    QTemporaryDir dir;
    RecordTable table;
    for (int no = 1; no <= kRows; ++no) {
        RecordRow row;
        row.appended = true;
        row.fields[FieldNo] = FieldCell::Int(no);
        row.fields[FieldTime] = FieldCell::Text(QStringLiteral("12:34:56"));
        row.fields[FieldDcAc] = FieldCell::Text(QStringLiteral("DC"));
        row.fields[FieldValue] = FieldCell::Text(QString::number(no % 20000 * 0.0001, 'f', 4));
        row.fields[FieldUnit] = FieldCell::Text(QStringLiteral("V"));
        row.fields[FieldAuto] = FieldCell::Text(QStringLiteral("Pass"));
        row.fields[FieldNVal] = FieldCell::Int(no % 20000);
        table.Append(row);
    }

    TSessionJournal journal(dir.path());
    if (!journal.Start()) return 1;
    std::vector<double> calls;
    calls.reserve(kRows);
    QElapsedTimer all;
    all.start();
    for (int row = 0; row < kRows; ++row) {
        const auto t0 = std::chrono::steady_clock::now();
        journal.AppendRow(table, row);
        calls.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    const double appendSeconds = all.nsecsElapsed() / 1e9;
    journal.Flush();
    const double diskSeconds = all.nsecsElapsed() / 1e9;
    journal.Remove();

    std::sort(calls.begin(), calls.end());
    const double mean = appendSeconds * 1e9 / kRows;
    const double p999 = calls[std::size_t(kRows * 0.999)];
    const double worst = calls.back();
    std::printf(
        "AppendRow: %d rows in %.3f s, mean %.0f ns, 99.9th percentile %.1f us, worst %.0f us\n",
        kRows, appendSeconds, mean, p999, worst);
    std::printf("writer: all rows written and synced %.3f s after the first (%.0f rows/s)\n",
                diskSeconds, kRows / diskSeconds);
    std::printf("journal_bench: append mean %.0f ns/row, worst call %.0f us; writer %.0f rows/s\n",
                mean, worst, kRows / diskSeconds);
    return 0;
}
