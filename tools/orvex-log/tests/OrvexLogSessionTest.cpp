// orvex-log over a long run: nothing lost or failed silently.  The record limit
// is none unless given and is told when reached, every destination is tried
// before the run, a run that cannot start leaves earlier files alone, a live
// run says what it reads and when the packets stop, a stop signal or a reader
// that goes away still ends with the table written, an input without packets
// says so, and a port that does not open says why.

#include "protocol/PacketEncoder.h"
#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct RunResult {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};

RunResult RunProgram(const QString& program, const QStringList& args,
                     const QByteArray& input = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    RunResult r;
    if (!p.waitForStarted(30000)) return r;
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

RunResult RunLog(const QStringList& args, const QByteArray& input = {}) {
    return RunProgram(QStringLiteral(ORVEX_LOG_PATH), args, input);
}

QString PtyPath(const orvex::sim::TMeterPty& pty) {
    return QString::fromStdString(pty.devicePath());
}

} // namespace

TEST(OrvexLogSession, TheLimitIsNoneUnlessGivenAndReachingItIsToldOnce) {
    const QString notice = QStringLiteral("recording stopped at the record limit of 3 rows");
    const RunResult all = RunLog({"--sample"});
    ASSERT_EQ(all.exitCode, 0) << all.err.toStdString();
    const int frames = int(all.out.count(u'\n'));
    ASSERT_GT(frames, 4);
    EXPECT_EQ(all.out.count(QStringLiteral("\"recorded\":true")), frames) << "no limit by default";
    EXPECT_FALSE(all.err.contains(QStringLiteral("record limit")));

    const RunResult limited = RunLog({"--sample", "--limit", "3"});
    ASSERT_EQ(limited.exitCode, 0);
    EXPECT_EQ(limited.out.count(QStringLiteral("\"recorded\":true")), 3);
    EXPECT_EQ(limited.err.count(notice), 1) << limited.err.toStdString();
    EXPECT_EQ(limited.out.count(u'\n'), frames) << "the readings go on being written";
}

// A destination that cannot be written ends the run before it starts, not after
// an hour: here the live line never sends, so a late check would never come.
TEST(OrvexLogSession, EveryDestinationIsTriedBeforeTheRun) {
    orvex::sim::TMeterPty pty;
    std::string error;
    ASSERT_TRUE(pty.Open(&error)) << error;
    QTemporaryDir dir;
    for (const char* option : {"--out", "--report"}) {
        for (const char* name : {"day.txt", "day.csv", "day.xml", "day.pdf"}) {
            if ((std::string(option) == "--report") != (std::string(name) == "day.pdf")) continue;
            const QString target = dir.filePath(QStringLiteral("missing/%1").arg(name));
            const RunResult r =
                RunLog({"--port", PtyPath(pty), QString::fromLatin1(option), target});
            EXPECT_EQ(r.exitCode, 2) << name;
            EXPECT_TRUE(r.out.isEmpty()) << name;
            EXPECT_TRUE(r.err.contains(
                QStringLiteral("cannot write '%1': No such file or directory\n").arg(target)))
                << r.err.toStdString();
            EXPECT_EQ(r.err.count(target), 1) << "the path is named once: " << r.err.toStdString();
            EXPECT_FALSE(r.err.contains(QStringLiteral("reading "))) << "the run did not start";
        }
    }
}

TEST(OrvexLogSession, ALiveRunSaysWhatItReadsAndWhenNoPacketComes) {
    orvex::sim::TMeterPty pty; // a line whose meter sends nothing
    std::string error;
    ASSERT_TRUE(pty.Open(&error)) << error;
    const RunResult r = RunLog({"--port", PtyPath(pty), "--seconds", "11.5"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith(
        QStringLiteral("orvex-log: reading %1 at 19200 bit/s, 7O1; Ctrl-C to stop\n")
            .arg(PtyPath(pty))))
        << r.err.toStdString();
    EXPECT_EQ(r.err.count(QStringLiteral("no packet from %1 for 10 seconds").arg(PtyPath(pty))), 1)
        << r.err.toStdString();
}

// A run whose input does not open replaces none of the files of an earlier run.
TEST(OrvexLogSession, ARunThatCannotStartLeavesTheFilesOfAnEarlierRun) {
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("day.pdf"));
    for (const char* name : {"day.txt", "day.csv", "day.xml"}) {
        const QString table = dir.filePath(QString::fromLatin1(name));
        for (const QString& file : {table, report}) {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("yesterday's rows");
        }
        for (const QStringList& input : {QStringList{"--port", "/nonexistent/ttyUSB7"},
                                         QStringList{"--input", "/nonexistent/meter.bin"}}) {
            SCOPED_TRACE(std::string(name) + " " + input.join(' ').toStdString());
            const RunResult r = RunLog(input + QStringList{"--out", table, "--report", report});
            EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
            for (const QString& file : {table, report}) {
                QFile f(file);
                ASSERT_TRUE(f.open(QIODevice::ReadOnly));
                EXPECT_EQ(f.readAll(), "yesterday's rows") << file.toStdString();
            }
        }
    }
}

// SIGINT, SIGTERM and SIGHUP (the ssh session closed) end a run the way
// --seconds does, also on a stream that does not end; a reader of the JSON lines
// that goes away is a write error. The table and the report are written either way.
TEST(OrvexLogSession, AStopSignalOrAClosedReaderEndsTheRunWithTheTableWritten) {
    orvex::sim::TMeterScenario scenario(3);
    QByteArray packets = "\n";
    for (int i = 0; i < 20; ++i) {
        const orvex::Packet p = orvex::EncodePacket(scenario.Next());
        packets += QByteArray(reinterpret_cast<const char*>(p.data()), qsizetype(p.size()));
    }
    struct Case {
        const char* name;
        int signal; // 0: the reader goes away
        bool live;  // the virtual meter on a line, else a stream on standard input
    } cases[] = {{"hang-up, live line", SIGHUP, true},
                 {"Ctrl-C, standard input left open", SIGINT, false},
                 {"terminated, live line", SIGTERM, true},
                 {"the reader goes away, live line", 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString table = dir.filePath(QStringLiteral("day.xml"));
        const QString report = dir.filePath(QStringLiteral("day.pdf"));
        QProcess meter;
        QString device;
        if (c.live) {
            meter.start(QStringLiteral(ORVEX_METER_SIM_PATH),
                        {QStringLiteral("--rate"), QStringLiteral("50")});
            ASSERT_TRUE(meter.waitForStarted(10000));
            ASSERT_TRUE(meter.waitForReadyRead(10000));
            device = QString::fromLocal8Bit(meter.readLine()).trimmed();
        }
        const QStringList input =
            c.live ? QStringList{"--port", device} : QStringList{"--input", "-"};
        const QStringList files{"--out", table, "--report", report};
        QProcess log;
        int exitCode = -1;
        QByteArray err;
        if (c.signal == 0) {
            // The lines go to a program that ends after three of them.
            QStringList quoted;
            for (const QString& a : QStringList{QStringLiteral(ORVEX_LOG_PATH)} + input + files)
                quoted << "'" + a + "'";
            log.start(QStringLiteral("bash"),
                      {"-c", quoted.join(' ') + " | head -n 3 >/dev/null; exit ${PIPESTATUS[0]}"});
            ASSERT_TRUE(log.waitForFinished(30000));
            exitCode = log.exitCode();
            err = log.readAllStandardError();
            EXPECT_EQ(exitCode, 1) << err.toStdString();
            EXPECT_TRUE(err.contains("writing the readings to standard output failed: Broken pipe"))
                << err.toStdString();
        } else {
            log.start(QStringLiteral(ORVEX_LOG_PATH), input + files);
            ASSERT_TRUE(log.waitForStarted(10000));
            if (!c.live) log.write(packets); // and standard input stays open
            QByteArray printed;
            while (printed.count('\n') < 5 && log.waitForReadyRead(5000))
                printed += log.readAllStandardOutput();
            ASSERT_GE(printed.count('\n'), 5);
            ::kill(pid_t(log.processId()), c.signal);
            ASSERT_TRUE(log.waitForFinished(30000)) << "the signal ends the run";
            EXPECT_EQ(log.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(log.exitCode(), 0) << log.readAllStandardError().toStdString();
        }
        QFile xml(table);
        ASSERT_TRUE(xml.open(QIODevice::ReadOnly)) << "the table is written";
        EXPECT_GE(xml.readAll().count("<ROW "), 3);
        EXPECT_TRUE(QFile::exists(report)) << "the report is written";
        meter.terminate();
        meter.waitForFinished(10000);
    }
}

TEST(OrvexLogSession, TheMeterKilledMidRunEndsItAndKeepsTheRows) {
    QProcess meter;
    meter.start(QStringLiteral(ORVEX_METER_SIM_PATH),
                {QStringLiteral("--rate"), QStringLiteral("50")});
    ASSERT_TRUE(meter.waitForStarted(10000));
    ASSERT_TRUE(meter.waitForReadyRead(10000));
    const QString device = QString::fromLocal8Bit(meter.readLine()).trimmed();
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("day.txt"));
    QProcess log;
    log.start(QStringLiteral(ORVEX_LOG_PATH), {"--port", device, "--out", table});
    ASSERT_TRUE(log.waitForStarted(10000));
    QByteArray printed;
    while (printed.count('\n') < 5 && log.waitForReadyRead(5000))
        printed += log.readAllStandardOutput();
    ASSERT_GE(printed.count('\n'), 5);
    ::kill(pid_t(meter.processId()), SIGKILL);
    ASSERT_TRUE(log.waitForFinished(10000)) << "the lost line ends the run";
    printed += log.readAllStandardOutput();
    EXPECT_EQ(log.exitCode(), 1);
    EXPECT_TRUE(log.readAllStandardError().contains("was lost"));
    QFile file(table);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().count("\r\n") - 1, printed.count("\"recorded\":true"));
}

TEST(OrvexLogSession, AnInputWithoutAnyPacketSaysSo) {
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("saved.txt"));
    QFile file(table);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n1\t10:20:30\tDC\t1.2345\tV\tPass\r\n");
    file.close();
    const RunResult r = RunLog({"--input", table});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err, QStringLiteral("orvex-log: no meter packet found in '%1'\n").arg(table));
}

TEST(OrvexLogSession, APortThatDoesNotOpenGivesTheReasonAndTheFix) {
    orvex::sim::TMeterPty pty;
    std::string error;
    ASSERT_TRUE(pty.Open(&error)) << error;
    QProcess holder; // the line held by another program with its lock
    holder.start(QStringLiteral("flock"),
                 {QStringLiteral("--exclusive"), QStringLiteral("--no-fork"), PtyPath(pty),
                  QStringLiteral("sleep"), QStringLiteral("60")});
    ASSERT_TRUE(holder.waitForStarted(10000));
    QThread::msleep(300);

    const struct {
        QStringList args;
        QStringList says;
    } cases[] = {
        {{"--port", "/nonexistent/ttyUSB0"},
         {QStringLiteral("orvex-log: The serial port /nonexistent/ttyUSB0 cannot be opened: there "
                         "is no such device."),
          QStringLiteral("--com N or --port PATH")}},
        {{"--com2", "/nonexistent/ttyUSB1"},
         {QStringLiteral("The serial port COM2 (/nonexistent/ttyUSB1) cannot be opened")}},
        {{"--port", PtyPath(pty)},
         {QStringLiteral("it is busy, in use by "),
          QStringLiteral("sleep (process %1)").arg(holder.processId())}},
        {{"--com1"}, {QStringLiteral("option --com1 needs a path")}},
    };
    for (const auto& c : cases) {
        const RunResult r = RunLog(c.args);
        const std::string what = c.args.join(u' ').toStdString();
        EXPECT_EQ(r.exitCode, 2) << what;
        for (const QString& part : c.says)
            EXPECT_TRUE(r.err.contains(part)) << what << ": " << r.err.toStdString();
    }
    holder.kill();
    holder.waitForFinished(10000);
}

// A user who may not open the port, for real: this needs a process that is not
// root, which setpriv(1) makes.
TEST(OrvexLogSession, AnUnprivilegedUserIsToldTheGroupAndTheFix) {
    orvex::sim::TMeterPty pty;
    std::string error;
    ASSERT_TRUE(pty.Open(&error)) << error;
    const QByteArray node = QFile::encodeName(PtyPath(pty));
    const group* dialout = ::getgrnam("dialout");
    if (!dialout) GTEST_SKIP() << "this system has no group dialout to give the line to";
    if (::chown(node.constData(), ::geteuid(), dialout->gr_gid) != 0 ||
        ::chmod(node.constData(), 0660) != 0)
        GTEST_SKIP() << "cannot give the pseudo-terminal to the group dialout (not root)";
    const RunResult probe =
        RunProgram(QStringLiteral("setpriv"),
                   {"--reuid=65534", "--regid=65534", "--clear-groups", "--", "/usr/bin/id", "-u"});
    if (probe.exitCode != 0 || probe.out.trimmed() != QStringLiteral("65534"))
        GTEST_SKIP() << "no unprivileged user to be: setpriv --reuid=65534 failed ("
                     << probe.err.toStdString() << ")";

    const RunResult r = RunProgram(QStringLiteral("setpriv"),
                                   {"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                    QStringLiteral(ORVEX_LOG_PATH), "--port", PtyPath(pty)});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    for (const QString& part :
         {QStringLiteral("cannot be opened: no permission"),
          QStringLiteral("The device belongs to the group dialout"),
          QStringLiteral("is not in that group"), QStringLiteral("sudo usermod -aG dialout $USER"),
          QStringLiteral("log out and log in again")})
        EXPECT_TRUE(r.err.contains(part)) << r.err.toStdString();
}
