// A day-long session loses nothing silently: ports that do not open say why,
// the record limit is announced, every recorded row is journalled until a save
// holds it, a journal left by a killed window is offered back, a failed save
// shows its message with no progress dialog over it, and --help needs no display.

#include "app/tests/WindowFixture.h"
#include "files/SessionJournal.h"
#include "files/TableFiles.h"
#include "link/SerialPortDriver.h"
#include "recording/RecordTable.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace {

struct Session : Window {
    RecordTable& Table() { return w->state().recording.cds1; }
    void Steady(int frames) {
        Feed(std::vector<PacketFields>(frames, Reading({1, 2, 3, 4, 5}, 11, 0)));
    }
    QByteArray JournalBytes() {
        w->Journal().Flush();
        QFile f(w->Journal().filePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(no journal)");
    }
    QByteArray TableBytesFrom(int first) {
        QByteArray bytes = TextHeaderLine();
        for (int row = first; row < Table().rowCount(); ++row)
            AppendTextLine(bytes, Table(), row);
        return bytes;
    }
};

// A pseudo-terminal whose other end this test holds: a serial line that opens.
struct Pty {
    int master = -1;
    QString path;
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            path = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
};

bool LockedElsewhere(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

bool WaitUntil(const std::function<bool()>& pred, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > limitMs) return false;
        QTest::qWait(20);
    }
    return true;
}

QStringList Journals(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("journal-*")}, QDir::Files);
}

} // namespace

// ------------------------------------------------------------------ ports

TEST_F(Session, APortThatDoesNotOpenSaysWhyAndTheControlsStayDisconnected) {
    Pty busy;
    ASSERT_FALSE(busy.path.isEmpty());
    QProcess holder; // another program holding the line, with the lock a second copy would take
    holder.start(QStringLiteral("flock"),
                 {QStringLiteral("--exclusive"), QStringLiteral("--no-fork"), busy.path,
                  QStringLiteral("sleep"), QStringLiteral("60")});
    ASSERT_TRUE(holder.waitForStarted(10000));
    ASSERT_TRUE(WaitUntil([&] { return LockedElsewhere(busy.path); }, 10000));
    QTemporaryDir dir;

    const struct {
        const char* name;
        QString path;
        QStringList says;
    } ports[] = {
        {"missing",
         dir.filePath(QStringLiteral("ttyUSB0")),
         {QStringLiteral("The serial port COM1 (%1) cannot be opened: there is no such device")
              .arg(dir.filePath(QStringLiteral("ttyUSB0")))}},
        {"busy",
         busy.path,
         {QStringLiteral("it is busy, in use by sleep (process %1)").arg(holder.processId())}},
    };
    const struct {
        const char* name;
        std::function<void()> connect;
    } ways[] = {
        {"COM Connect", [&] { w->control<QPushButton>(QStringLiteral("COMCon"))->click(); }},
        {"START", [&] { w->action(QStringLiteral("START1"))->trigger(); }},
    };
    for (const auto& port : ports) {
        for (const auto& way : ways) {
            dialogs.errors.clear();
            w->COMM2().SetPortDevicePath(TSerialPortDriver::pnCOM1, port.path);
            way.connect();
            const std::string what = std::string(port.name) + " by " + way.name;
            EXPECT_FALSE(w->COMM2().Connected()) << what;
            ASSERT_EQ(dialogs.errors.size(), 1) << what;
            for (const QString& part : port.says)
                EXPECT_TRUE(dialogs.errors[0].contains(part))
                    << what << ": " << dialogs.errors[0].toStdString();
            EXPECT_FALSE(w->control<QPushButton>(QStringLiteral("COMCon"))->isChecked()) << what;
            EXPECT_FALSE(w->action(QStringLiteral("START1"))->isChecked()) << what;
            EXPECT_TRUE(w->action(QStringLiteral("START1"))->isEnabled()) << what;
            EXPECT_FALSE(w->action(QStringLiteral("STOP1"))->isEnabled()) << what;
            EXPECT_TRUE(w->action(QStringLiteral("ComSetup1"))->isEnabled()) << what;
            EXPECT_TRUE(w->control(QStringLiteral("BtCOM1"))->isEnabled()) << what;
            EXPECT_TRUE(Shown("USBCon")) << what;
        }
    }
    holder.kill();
    holder.waitForFinished(10000);

    // A port that opens shows no message.
    ASSERT_TRUE(WaitUntil([&] { return !LockedElsewhere(busy.path); }, 10000));
    dialogs.errors.clear();
    w->COMM2().SetPortDevicePath(TSerialPortDriver::pnCOM1, busy.path);
    w->control<QPushButton>(QStringLiteral("COMCon"))->click();
    EXPECT_TRUE(w->COMM2().Connected());
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

// ------------------------------------------------------------------ the record limit

TEST_F(Session, TheRecordLimitIsAnnouncedOncePerFilling) {
    const QString notice = RecordLimitNotice(1000);
    w->action(QStringLiteral("N10001"))->trigger();
    Steady(1000);
    QTest::qWait(1);
    EXPECT_FALSE(dialogs.informations.contains(notice)) << "a full table is not yet a refusal";
    Steady(5);
    QTest::qWait(1);
    EXPECT_EQ(dialogs.informations.count(notice), 1);
    Steady(300);
    QTest::qWait(1);
    EXPECT_EQ(dialogs.informations.count(notice), 1) << "once for this filling";
    EXPECT_EQ(Table().rowCount(), 1000) << "recording itself is gated as before";

    dialogs.answers = {true};
    w->action(QStringLiteral("New1"))->trigger();
    Steady(1001);
    QTest::qWait(1);
    EXPECT_EQ(dialogs.informations.count(notice), 2) << "the next filling is told again";
    EXPECT_TRUE(notice.contains(QStringLiteral("\"New\"")) && notice.contains("larger limit"));
}

// ------------------------------------------------------------------ the journal

TEST_F(Session, TheJournalHoldsWhatNoSavedFileHolds) {
    const QString path = w->Journal().filePath();
    EXPECT_TRUE(path.startsWith(TSessionJournal::DefaultFolder() + u'/')) << path.toStdString();
    EXPECT_EQ(JournalBytes(), TextHeaderLine());
    Steady(5);
    EXPECT_EQ(JournalBytes(), TableTextBytes(Table()));

    // A successful save holds the rows: the journal starts afresh.
    QTemporaryDir dir;
    dialogs.fileNames = {dir.filePath(QStringLiteral("day.txt"))};
    w->control<QToolButton>(QStringLiteral("saveas"))->click();
    ASSERT_TRUE(QFile::exists(dir.filePath(QStringLiteral("day.txt"))));
    EXPECT_EQ(JournalBytes(), TextHeaderLine());
    Steady(2);
    EXPECT_EQ(JournalBytes(), TableBytesFrom(5));

    // A failed save holds nothing: the journal keeps its rows.
    dialogs.fileNames = {dir.filePath(QStringLiteral("missing/day.txt"))};
    w->control<QToolButton>(QStringLiteral("saveas"))->click();
    EXPECT_EQ(JournalBytes(), TableBytesFrom(5));

    // Loaded rows come from a file: they are not journalled.
    dialogs.fileNames = {dir.filePath(QStringLiteral("day.txt"))};
    w->control<QToolButton>(QStringLiteral("OpenDataFiles"))->click();
    EXPECT_EQ(Table().rowCount(), 12);
    QByteArray recorded = TextHeaderLine();
    for (int row = 5; row < 7; ++row)
        AppendTextLine(recorded, Table(), row);
    EXPECT_EQ(JournalBytes(), recorded);

    // "New" empties the table and the journal.
    dialogs.answers = {true};
    w->action(QStringLiteral("New1"))->trigger();
    EXPECT_EQ(JournalBytes(), TextHeaderLine());

    // The program ends normally: the journal goes.
    w.reset();
    EXPECT_FALSE(QFile::exists(path));
}

TEST(SessionJournalOffer, AJournalLeftBehindIsOfferedLoadedOrDiscarded) {
    using Answer = IDialogs::Answer;
    const struct {
        const char* name;
        int rows;
        Answer answer;
        int questions;
        int loaded;
        bool kept; // the journal left behind stays for the next start
    } cases[] = {
        {"loaded", 3, Answer::Yes, 1, 3, false},
        {"discarded", 3, Answer::No, 1, 0, false},
        {"dismissed", 3, Answer::Cancel, 1, 0, true},
        {"nothing recorded", 0, Answer::Yes, 0, 0, false},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        QString left;
        RecordTable recorded;
        {
            TSessionJournal journal(dir.path());
            ASSERT_TRUE(journal.Start());
            for (int no = 1; no <= c.rows; ++no) {
                RecordRow row;
                row.appended = true;
                row.fields[FieldNo] = FieldCell::Int(no);
                row.fields[FieldTime] = FieldCell::Text(QStringLiteral("08:00:0%1").arg(no));
                row.fields[FieldValue] = FieldCell::Text(QStringLiteral("1.2345"));
                recorded.Append(row);
                journal.AppendRow(recorded, no - 1);
            }
            ASSERT_TRUE(journal.Flush());
            left = journal.filePath();
        } // ended without removing it, as a killed window

        ScriptedDialogs dialogs;
        dialogs.threeWayAnswers = {c.answer};
        WindowOptions options;
        options.dialogs = &dialogs;
        options.journalFolder = dir.path();
        auto w = std::make_unique<TFCOMM>(options);
        ASSERT_EQ(dialogs.questions.size(), c.questions) << c.name;
        if (c.questions) {
            EXPECT_TRUE(dialogs.questions[0].contains(
                QStringLiteral("left 3 recorded rows that no saved file holds, recorded from "
                               "08:00:01 to 08:00:03")))
                << dialogs.questions[0].toStdString();
        }
        EXPECT_EQ(w->state().recording.cds1.rowCount(), c.loaded) << c.name;
        EXPECT_EQ(QFile::exists(left), c.kept) << c.name;
        QStringList journals{QFileInfo(w->Journal().filePath()).fileName()};
        if (c.kept) journals << QFileInfo(left).fileName();
        journals.sort();
        EXPECT_EQ(Journals(dir.path()), journals) << c.name;
        // The rows loaded back are journalled again at once.
        w->Journal().Flush();
        QFile mine(w->Journal().filePath());
        ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
        EXPECT_EQ(mine.readAll(), TableTextBytes(w->state().recording.cds1)) << c.name;
        EXPECT_TRUE(dialogs.errors.isEmpty()) << c.name;
        if (!c.kept) continue;
        // The next start offers it again, with the same rows.
        w.reset();
        ScriptedDialogs again;
        again.threeWayAnswers = {Answer::Yes};
        options.dialogs = &again;
        TFCOMM next(options);
        ASSERT_EQ(again.questions.size(), 1) << c.name;
        EXPECT_EQ(next.state().recording.cds1.rowCount(), c.rows) << c.name;
        EXPECT_FALSE(QFile::exists(left)) << c.name;
    }
}

TEST(SessionJournalOffer, AJournalThatCannotBeWrittenIsReportedOnceAndRecordingGoesOn) {
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("home")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // no folder can be made below it
    blocker.close();
    ScriptedDialogs dialogs;
    WindowOptions options;
    options.dialogs = &dialogs;
    options.journalFolder = dir.filePath(QStringLiteral("home/.local/state/orvex-interface"));
    TFCOMM w(options);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("session journal cannot be written")));
    std::vector<std::uint8_t> bytes{0x0A};
    for (int i = 0; i < 3; ++i) {
        const Packet p = EncodePacket(Reading({1, 2, 3, 4, 5}, 11, 0));
        bytes.insert(bytes.end(), p.begin(), p.end());
    }
    w.OrvexDATA(nullptr, bytes.data(), int(bytes.size()));
    dialogs.answers = {true};
    w.action(QStringLiteral("New1"))->trigger(); // tries the journal again
    w.OrvexDATA(nullptr, bytes.data() + 1, int(bytes.size()) - 1);
    QTest::qWait(1);
    EXPECT_EQ(w.state().recording.cds1.rowCount(), 3);
    EXPECT_EQ(dialogs.errors.size(), 1) << "reported once";
}

// The real window, recording from the virtual meter, killed: its rows are in the
// journal, which the next start offers and loads.  A normal end leaves none.
TEST(SessionJournalOffer, RowsOfAKilledWindowAreOfferedAndLoadedAtTheNextStart) {
    QTemporaryDir state;
    const QString folder = state.filePath(QStringLiteral("orvex-interface"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess quitting;
    quitting.setProcessEnvironment(env);
    quitting.start(QStringLiteral(ORVEX_INTERFACE_PATH), {QStringLiteral("--quit-when-shown")});
    ASSERT_TRUE(quitting.waitForFinished(60000));
    EXPECT_EQ(quitting.exitCode(), 0) << quitting.readAllStandardError().toStdString();
    EXPECT_EQ(Journals(folder), QStringList()) << "a normal end leaves no journal";

    QProcess meter;
    const QString device = StartVirtualMeter(meter);
    ASSERT_FALSE(device.isEmpty()) << "the virtual meter prints its device";

    QProcess window;
    window.setProcessEnvironment(env);
    window.start(QStringLiteral(ORVEX_INTERFACE_PATH),
                 {QStringLiteral("--com1"), device, QStringLiteral("--connect")});
    ASSERT_TRUE(window.waitForStarted(30000));
    // Rows recorded reach the journal within a second.
    auto journalRows = [&] {
        const QStringList names = Journals(folder);
        if (names.size() != 1) return -1;
        QFile f(QDir(folder).filePath(names[0]));
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count('\n')) - 1 : -1;
    };
    EXPECT_TRUE(WaitUntil([&] { return journalRows() >= 20; }, 30000))
        << window.readAllStandardError().toStdString();
    const qint64 killed = window.processId();
    ::kill(pid_t(killed), SIGKILL);
    ASSERT_TRUE(window.waitForFinished(10000));
    meter.terminate();
    meter.waitForFinished(10000);
    const int rows = journalRows();
    ASSERT_GE(rows, 20);

    ScriptedDialogs dialogs;
    dialogs.answers = {true};
    WindowOptions options;
    options.dialogs = &dialogs;
    options.journalFolder = folder;
    TFCOMM next(options);
    ASSERT_EQ(dialogs.questions.size(), 1);
    EXPECT_TRUE(dialogs.questions[0].contains(
        QStringLiteral("process %1) left %2 recorded rows").arg(killed).arg(rows)))
        << dialogs.questions[0].toStdString();
    EXPECT_EQ(next.state().recording.cds1.rowCount(), rows);
    EXPECT_EQ(next.state().recording.cds1.Text(0, FieldDcAc).isEmpty(), false);
    EXPECT_EQ(Journals(folder), QStringList{QFileInfo(next.Journal().filePath()).fileName()});
}

// ------------------------------------------------------------------ a failed save

namespace {

// Records, for every message, whether a progress dialog was still there.
struct ProgressWatchingDialogs : ScriptedDialogs {
    QWidget* window = nullptr;
    QList<int> progressDialogsAtMessage;
    void Seen() {
        progressDialogsAtMessage << int(window->findChildren<QProgressDialog*>().size());
    }
    void Inform(QWidget* parent, const QString& text) override {
        Seen();
        ScriptedDialogs::Inform(parent, text);
    }
    void ShowError(QWidget* parent, const QString& text, const QString& caption) override {
        Seen();
        ScriptedDialogs::ShowError(parent, text, caption);
    }
};

} // namespace

TEST(FailedSave, NoProgressDialogIsLeftOverItsMessage) {
    ProgressWatchingDialogs dialogs;
    WindowOptions options;
    options.dialogs = &dialogs;
    TFCOMM w(options);
    dialogs.window = &w;
    RecordRow row;
    row.fields[FieldNo] = FieldCell::Int(1);
    row.fields[FieldValue] = FieldCell::Text(QStringLiteral("1.2345"));
    for (int i = 0; i < 300000; ++i)
        w.state().recording.cds1.Append(row);
    // A disk that is full half-way (text), and a folder that is not there (XML).
    for (const char* target : {"/dev/full", "/nonexistent/orvex/day.xml"}) {
        dialogs.progressDialogsAtMessage.clear();
        dialogs.fileNames = {QString::fromLatin1(target)};
        w.control<QToolButton>(QStringLiteral("saveas"))->click();
        ASSERT_EQ(dialogs.progressDialogsAtMessage.size(), 1) << target;
        EXPECT_EQ(dialogs.progressDialogsAtMessage[0], 0) << target;
    }
    EXPECT_TRUE(dialogs.informations.last().startsWith(QStringLiteral("Could not save table")));
    EXPECT_EQ(dialogs.errors.size(), 1);
}

// ------------------------------------------------------------------ the command line

TEST(CommandLine, HelpAndWrongOptionsNeedNoDisplay) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    const struct {
        QStringList args;
        int exitCode;
        const char* out;
        const char* err;
    } cases[] = {
        {{"--help"}, 0, "Usage: orvex-interface", ""},
        {{"--bogus"}, 2, "", "unknown option '--bogus'"},
        {{"--com1"}, 2, "", "option --com1 needs a path"},
        {{"--com2", "--connect"}, 2, "", "option --com2 needs a path"},
        // A Qt option without a value does not take the next argument with it.
        {{"-widgetcount", "--bogus"}, 2, "", "unknown option '--bogus'"},
    };
    for (const auto& c : cases) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ORVEX_INTERFACE_PATH), c.args);
        ASSERT_TRUE(p.waitForFinished(30000));
        const QString what = c.args.join(u' ');
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << what.toStdString();
        EXPECT_EQ(p.exitCode(), c.exitCode) << what.toStdString();
        EXPECT_TRUE(
            QString::fromLocal8Bit(p.readAllStandardOutput()).contains(QString::fromLatin1(c.out)))
            << what.toStdString();
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_TRUE(err.contains(QString::fromLatin1(c.err)))
            << what.toStdString() << ": " << err.toStdString();
    }
}
