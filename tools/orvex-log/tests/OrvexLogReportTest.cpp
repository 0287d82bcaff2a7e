// orvex-log --report, run as a process without any display: the printed report
// written as PDF at the end of the run, read back with poppler's tools.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct RunResult {
    int exitCode = -1;
    bool crashed = false;
    QString err;
};

// Runs the logger with no display at all: no X or Wayland server and no Qt
// platform chosen, as on a headless logging machine.
RunResult RunLog(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "LANG", "LC_NUMERIC"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(QStringLiteral(ORVEX_LOG_PATH), args);
    RunResult r;
    if (!p.waitForStarted(30000)) return r;
    p.closeWriteChannel();
    p.waitForFinished(60000);
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString PdfText(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

class LogReport : public ::testing::Test {
  protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            GTEST_SKIP() << "poppler-utils (pdftotext) not installed";
    }
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

} // namespace

// The sample stream's nine readings, in order, on one page; --out still writes
// its XML beside it.
TEST_F(LogReport, WritesTheRecordedRowsAsPdfBesideOut) {
    const RunResult r = RunLog({"--sample", "--report", Path("day.pdf"), "--out", Path("day.xml")});
    ASSERT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(Path("day.xml")));
    const QString text = PdfText(Path("day.pdf"));
    EXPECT_TRUE(text.contains(QStringLiteral("The Data Print Title")));
    EXPECT_TRUE(text.contains(QStringLiteral("Test Data")));
    EXPECT_EQ(text.count(QLatin1Char('\f')), 1) << "one page";
    QStringList functions;
    const QRegularExpression row(QStringLiteral("^\\s*(\\d+)\\s+\\S+\\s+(\\S+)"),
                                 QRegularExpression::MultilineOption);
    int expectedNo = 1;
    for (auto it = row.globalMatch(text); it.hasNext(); ++expectedNo) {
        const auto m = it.next();
        EXPECT_EQ(m.captured(1).toInt(), expectedNo);
        functions << m.captured(2);
    }
    EXPECT_EQ(functions, (QStringList{"DC", "DC", "Ohm", "Frequency", "Duty", "Temperature", "AC",
                                      "Cap", "Ohm"}));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              (QStringList{QStringLiteral("day.pdf"), QStringLiteral("day.xml")}))
        << "no temporary file is left";
}

// No rows: no file (an older one stays as it was), a message, exit status 1.
// A report that cannot be written says why, with the same status.
TEST_F(LogReport, EmptyTableOrUnwritableFileFails) {
    QFile empty(Path("empty.bin"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    QFile old(Path("old.pdf"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the previous report");
    old.close();

    const RunResult none = RunLog({"--input", Path("empty.bin"), "--report", Path("old.pdf")});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.err.contains(QStringLiteral("the record table is empty")))
        << none.err.toStdString();
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("the previous report"));

    const RunResult none2 = RunLog({"--input", Path("empty.bin"), "--report", Path("new.pdf")});
    EXPECT_EQ(none2.exitCode, 1);
    EXPECT_FALSE(QFile::exists(Path("new.pdf")));

    // A report that cannot be written is found before the run, and named once.
    const RunResult unwritable = RunLog({"--sample", "--report", Path("missing/day.pdf")});
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_TRUE(unwritable.err.contains(QStringLiteral("cannot write '%1': No such file or directory")
                                            .arg(Path("missing/day.pdf"))))
        << unwritable.err.toStdString();
    EXPECT_EQ(unwritable.err.count(QStringLiteral("day.pdf")), 1) << unwritable.err.toStdString();

    const RunResult noName = RunLog({"--sample", "--report"});
    EXPECT_EQ(noName.exitCode, 2);
}
