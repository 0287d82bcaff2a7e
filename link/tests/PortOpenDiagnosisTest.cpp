// Why a serial port did not open: real ports that are missing, busy (held by
// another process), not serial, and nodes this user may not open.

#include "link/PortOpenDiagnosis.h"
#include "link/SerialPortDriver.h"
#include "link/tests/LinkTestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace orvex;
using namespace orvex::testing;
using D = TSerialPortDriver;

namespace {

// True while some other open file holds the lock of `path`.
bool LockedElsewhere(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

// Another process holding `path` with an exclusive lock, as a second copy of
// the program would: flock(1) takes the lock and becomes its command (no fork),
// which keeps it.
struct Holder {
    QProcess process;
    bool Start(const QString& path) {
        process.start(QStringLiteral("flock"),
                      {QStringLiteral("--exclusive"), QStringLiteral("--no-fork"), path,
                       QStringLiteral("sleep"), QStringLiteral("60")});
        return process.waitForStarted(10000) && WaitFor([&] { return LockedElsewhere(path); });
    }
    ~Holder() {
        process.kill();
        process.waitForFinished(10000);
    }
};

} // namespace

TEST(PortOpenDiagnosis, AFailedOpenSaysWhyInPlainWords) {
    QTemporaryDir dir;
    sim::TMeterPty pty;
    std::string error;
    ASSERT_TRUE(pty.Open(&error)) << error;
    const QString ptyPath = QString::fromStdString(pty.devicePath());
    QFile plain(dir.filePath(QStringLiteral("notes.txt")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    Holder holder;
    ASSERT_TRUE(holder.Start(ptyPath)) << "flock(1) could not take the pseudo-terminal";

    const struct {
        const char* name;
        QString path;
        TPortProblem problem;
        QStringList says;
    } cases[] = {
        {"missing",
         dir.filePath(QStringLiteral("ttyUSB9")),
         TPortProblem::Missing,
         {QStringLiteral("COM3 (%1) cannot be opened: there is no such device")
              .arg(dir.filePath(QStringLiteral("ttyUSB9"))),
          QStringLiteral("Plug in the meter's serial cable"), QStringLiteral("ComSetup menu")}},
        {"busy",
         ptyPath,
         TPortProblem::Busy,
         {QStringLiteral("cannot be opened: it is busy, in use by "),
          QStringLiteral("(process %1)").arg(holder.process.processId()),
          QStringLiteral("End that program")}},
        {"not serial",
         plain.fileName(),
         TPortProblem::NotSerial,
         {QStringLiteral("it is not a serial device")}},
    };
    for (const auto& c : cases) {
        D driver;
        driver.SetPortDevicePath(D::pnCOM3, c.path);
        driver.SetComPort(D::pnCOM3);
        ASSERT_FALSE(driver.Connect()) << c.name;
        const TPortDiagnosis d = DiagnosePortOpenFailure(D::PortName(driver.ComPort()), c.path,
                                                         driver.LastOpenFailure());
        EXPECT_EQ(d.problem, c.problem) << c.name;
        for (const QString& part : c.says)
            EXPECT_TRUE(d.text.contains(part)) << c.name << ": " << d.text.toStdString();
        EXPECT_EQ(PortOpenFailureMessage(driver), d.text) << c.name;
    }

    // The holder is found by its process, whatever its name.
    const QList<TPortHolder> holders = FindPortHolders(ptyPath);
    const auto held = std::find_if(holders.begin(), holders.end(), [&](const TPortHolder& h) {
        return h.pid == holder.process.processId();
    });
    ASSERT_NE(held, holders.end());
    EXPECT_EQ(held->command, QStringLiteral("sleep"));

    // Once the holder has gone, the same port opens.
    holder.process.kill();
    holder.process.waitForFinished(10000);
    ASSERT_TRUE(WaitFor([&] { return !LockedElsewhere(ptyPath); }));
    D driver;
    driver.SetPortDevicePath(D::pnCOM1, ptyPath);
    driver.SetComPort(D::pnCOM1);
    EXPECT_TRUE(driver.Connect());
    EXPECT_EQ(driver.LastOpenFailure().step, TPortOpenFailure::None);
}

// Access refused: the message names the node's group and whether this user is
// in it, with the fix.  The identity is given, so any user can run this; the
// real refusal of an unprivileged process is tested with orvex-log.
TEST(PortOpenDiagnosis, NoPermissionNamesTheGroupAndTheFix) {
    sim::TMeterPty pty;
    std::string error;
    ASSERT_TRUE(pty.Open(&error)) << error;
    const QString path = QString::fromStdString(pty.devicePath());
    const QByteArray native = QFile::encodeName(path);
    const group* dialout = ::getgrnam("dialout");
    const gid_t gid = dialout ? dialout->gr_gid : ::getegid();
    const QString groupName = dialout ? QStringLiteral("dialout") : QString::number(gid);
    if (::chown(native.constData(), ::geteuid(), gid) != 0)
        GTEST_SKIP() << "cannot give the pseudo-terminal to the group " << groupName.toStdString()
                     << " (this user may not change its group)";

    TUserIdentity nobody;
    nobody.uid = 65534;
    nobody.name = QStringLiteral("nobody");
    nobody.sessionGroups = {65534};
    nobody.accountGroups = {65534};
    TUserIdentity addedLater = nobody;
    addedLater.accountGroups.push_back(gid);
    TUserIdentity member = nobody;
    member.sessionGroups.push_back(gid);

    const struct {
        const char* name;
        mode_t mode;
        TUserIdentity user;
        bool inGroup;
        QStringList says;
    } cases[] = {
        {"not in the group",
         0660,
         nobody,
         false,
         {QStringLiteral("cannot be opened: no permission"),
          QStringLiteral("belongs to the group %1").arg(groupName),
          QStringLiteral("this user (nobody) is not in that group"),
          QStringLiteral("sudo usermod -aG %1 $USER").arg(groupName),
          QStringLiteral("log out and log in again")}},
        {"added after the session began",
         0660,
         addedLater,
         false,
         {QStringLiteral("was added to that group after this session began"),
          QStringLiteral("Log out and log in again")}},
        {"in the group", 0660, member, true, {QStringLiteral("is in its group %1").arg(groupName)}},
        {"owner only",
         0600,
         nobody,
         false,
         {QStringLiteral("Only its owner"), QStringLiteral("mode 0600")}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::chmod(native.constData(), c.mode), 0);
        const TPortDiagnosis d = DiagnosePortOpenFailure(QStringLiteral("COM1"), path,
                                                         {TPortOpenFailure::Open, EACCES}, c.user);
        EXPECT_EQ(d.problem, TPortProblem::NoPermission) << c.name;
        EXPECT_EQ(d.group, groupName) << c.name;
        EXPECT_EQ(d.inGroup, c.inGroup) << c.name;
        for (const QString& part : c.says)
            EXPECT_TRUE(d.text.contains(part)) << c.name << ": " << d.text.toStdString();
        if (c.mode == 0600 || c.inGroup) {
            EXPECT_FALSE(d.text.contains(QStringLiteral("usermod"))) << c.name;
        }
    }
}
