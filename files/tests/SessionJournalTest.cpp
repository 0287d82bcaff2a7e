// The session journal on real files: what it holds, when it starts afresh, how a
// journal left behind is found and offered, and what a journal that cannot be
// written does.

#include "files/SessionJournal.h"
#include "files/TableFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>

using namespace orvex;

namespace {

RecordRow Row(int no, const QString& time) {
    RecordRow row;
    row.appended = true;
    row.fields[FieldNo] = FieldCell::Int(no);
    row.fields[FieldTime] = FieldCell::Text(time);
    row.fields[FieldDcAc] = FieldCell::Text(QStringLiteral("DC"));
    row.fields[FieldValue] = FieldCell::Text(QString::number(no * 0.001, 'f', 4));
    row.fields[FieldUnit] = FieldCell::Text(QStringLiteral("V"));
    row.fields[FieldAuto] = FieldCell::Text(QStringLiteral("Pass"));
    row.fields[FieldNVal] = FieldCell::Int(no);
    return row;
}

// Records rows first..last into the table and the journal, as the window does.
void Record(RecordTable& table, TSessionJournal& journal, int first, int last) {
    for (int no = first; no <= last; ++no) {
        table.Append(Row(no, QStringLiteral("10:%1:00").arg(no % 60, 2, 10, QLatin1Char('0'))));
        journal.AppendRow(table, table.rowCount() - 1);
    }
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

QByteArray Lines(const RecordTable& table, int first) {
    QByteArray bytes = TextHeaderLine();
    for (int row = first; row < table.rowCount(); ++row)
        AppendTextLine(bytes, table, row);
    return bytes;
}

QStringList JournalFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*")}, QDir::Files | QDir::Hidden);
}

} // namespace

TEST(SessionJournal, HoldsTheRecordedRowsAsATableFileUntilASaveOrNew) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("state/orvex-interface"));
    RecordTable table;
    TSessionJournal journal(folder);
    ASSERT_TRUE(journal.Start(QDateTime(QDate(2024, 5, 3), QTime(9, 11, 40))));
    EXPECT_EQ(
        QFileInfo(journal.filePath()).fileName(),
        QStringLiteral("journal-%1-20240503-091140.txt").arg(QCoreApplication::applicationPid()));

    Record(table, journal, 1, 5);
    ASSERT_TRUE(journal.Flush());
    EXPECT_EQ(ReadFile(journal.filePath()), TableTextBytes(table));

    // A save held rows 1..3; rows 4 and 5 came while it ran.
    journal.Restart(table, 3);
    Record(table, journal, 6, 6);
    ASSERT_TRUE(journal.Flush());
    EXPECT_EQ(ReadFile(journal.filePath()), Lines(table, 3));

    // "New": the table is emptied, the journal begins afresh.
    table.Empty();
    journal.Restart(table, 0);
    ASSERT_TRUE(journal.Flush());
    EXPECT_EQ(ReadFile(journal.filePath()), TextHeaderLine());

    // The rows reach the file by themselves, without Flush.
    Record(table, journal, 1, 2);
    const QByteArray want = TableTextBytes(table);
    QElapsedTimer clock;
    clock.start();
    while (ReadFile(journal.filePath()) != want && clock.elapsed() < 5000)
        QThread::msleep(20);
    EXPECT_EQ(ReadFile(journal.filePath()), want) << "written within the half second";

    // The journal loads back like any table file.
    RecordTable loaded;
    ASSERT_TRUE(LoadDataFile(journal.filePath(), loaded).ok());
    EXPECT_EQ(TableTextBytes(loaded), want);

    journal.Remove();
    EXPECT_EQ(JournalFiles(folder), QStringList()) << "the normal end deletes it";
}

TEST(SessionJournal, AJournalLeftBehindIsFoundWhileARunningOneIsNot) {
    QTemporaryDir dir;
    RecordTable table;
    QString leftPath;
    {
        // A window that ended without removing its journal (as after a crash).
        TSessionJournal left(dir.path());
        ASSERT_TRUE(left.Start(QDateTime(QDate(2024, 5, 3), QTime(9, 11, 40))));
        Record(table, left, 1, 3);
        ASSERT_TRUE(left.Flush());
        leftPath = left.filePath();
    }
    RecordTable other;
    TSessionJournal running(dir.path());
    ASSERT_TRUE(running.Start(QDateTime(QDate(2024, 5, 3), QTime(9, 11, 40))));
    EXPECT_NE(running.filePath(), leftPath) << "two windows started in one second";
    Record(other, running, 1, 7);
    ASSERT_TRUE(running.Flush());

    std::vector<TStaleJournal> stale = TStaleJournal::Find(dir.path());
    ASSERT_EQ(stale.size(), 1u) << "the running window's journal is locked";
    EXPECT_EQ(stale[0].path(), leftPath);
    EXPECT_EQ(stale[0].rows(), 3);
    EXPECT_EQ(stale[0].pid(), QCoreApplication::applicationPid());
    EXPECT_EQ(stale[0].firstTime(), QStringLiteral("10:01:00"));
    EXPECT_EQ(stale[0].lastTime(), QStringLiteral("10:03:00"));
    const QString offer = stale[0].OfferText();
    for (const char* part : {"left 3 recorded rows", "from 10:01:00 to 10:03:00",
                             "started 2024-05-03 09:11", "\"No\" discards them"})
        EXPECT_TRUE(offer.contains(QString::fromLatin1(part))) << offer.toStdString();

    // While one window holds it, another does not find it.
    EXPECT_TRUE(TStaleJournal::Find(dir.path()).empty());
    EXPECT_TRUE(stale[0].Discard());
    stale.clear();
    EXPECT_FALSE(QFile::exists(leftPath));
    EXPECT_TRUE(TStaleJournal::Find(dir.path()).empty());
    EXPECT_TRUE(QFile::exists(running.filePath()));
}

TEST(SessionJournal, AJournalThatCannotBeWrittenIsToldOncePerFailureAndKeepsWholeLines) {
    QTemporaryDir dir;
    // No folder can be made below a file.
    QFile blocker(dir.filePath(QStringLiteral("state")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    {
        TSessionJournal journal(dir.filePath(QStringLiteral("state/orvex-interface")));
        QSignalSpy failed(&journal, &TSessionJournal::writeFailed);
        EXPECT_FALSE(journal.Start());
        RecordTable table;
        Record(table, journal, 1, 3);
        journal.Restart(table, 0); // tries again, fails again, tells nothing more
        QCoreApplication::processEvents();
        ASSERT_EQ(failed.count(), 1);
        EXPECT_TRUE(failed.at(0).at(0).toString().contains(QStringLiteral("Recording goes on")));
    }

    // A disk that fills up: writes past a file-size limit fail (EFBIG).
    TSessionJournal journal(dir.filePath(QStringLiteral("ok")));
    QSignalSpy failed(&journal, &TSessionJournal::writeFailed);
    ASSERT_TRUE(journal.Start());
    RecordTable table;
    Record(table, journal, 1, 2);
    ASSERT_TRUE(journal.Flush());
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    // Runs `action` and flushes with the file limited to 200 bytes.
    const auto withFullDisk = [&](const std::function<void()>& action) {
        rlimit small = old;
        small.rlim_cur = 200;
        ::setrlimit(RLIMIT_FSIZE, &small);
        action();
        const bool flushed = journal.Flush();
        ::setrlimit(RLIMIT_FSIZE, &old);
        return flushed;
    };
    EXPECT_FALSE(withFullDisk([&] { Record(table, journal, 3, 40); }));
    Record(table, journal, 41, 80);
    journal.Flush();
    EXPECT_TRUE(journal.failed());
    QCoreApplication::processEvents();
    EXPECT_EQ(failed.count(), 1) << "told once, however many rows follow";
    // The write that failed part-way left no half line for the next start to
    // load as a reading: the file ends with the last line written whole.
    const QByteArray cut = ReadFile(journal.filePath());
    const QByteArray all = Lines(table, 0);
    EXPECT_EQ(cut.toStdString(), all.left(all.left(200).lastIndexOf('\n') + 1).toStdString());
    // A fresh start (a save) that does not fit either is the same failure.
    EXPECT_FALSE(withFullDisk([&] { journal.Restart(table, 0); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(failed.count(), 1);

    // With room again, the next fresh start writes it whole.
    journal.Restart(table, 70);
    ASSERT_TRUE(journal.Flush());
    EXPECT_FALSE(journal.failed());
    EXPECT_EQ(ReadFile(journal.filePath()), Lines(table, 70));

    // A disk that fills up again is a new failure, and it is told again.
    EXPECT_FALSE(withFullDisk([&] { Record(table, journal, 81, 120); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(failed.count(), 2);
    // So is one right after a fresh start that fitted, written in the same go.
    EXPECT_FALSE(withFullDisk([&] {
        journal.Restart(table, table.rowCount() - 2);
        Record(table, journal, 121, 160);
    }));
    std::signal(SIGXFSZ, oldHandler);
    QCoreApplication::processEvents();
    EXPECT_EQ(failed.count(), 3);
}
