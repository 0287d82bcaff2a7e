#include "link/PortOpenDiagnosis.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex {

namespace {

QString UserName(uid_t uid) {
    if (const passwd* pw = ::getpwuid(uid)) return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(uid);
}

QString GroupName(gid_t gid) {
    if (const group* gr = ::getgrgid(gid)) return QString::fromLocal8Bit(gr->gr_name);
    return QString::number(gid);
}

bool Contains(const std::vector<gid_t>& groups, gid_t gid) {
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

QString Subject(const QString& portName, const QString& devicePath) {
    if (portName.isEmpty()) return QStringLiteral("The serial port %1").arg(devicePath);
    return QStringLiteral("The serial port %1 (%2)").arg(portName, devicePath);
}

QString HolderText(const QList<TPortHolder>& holders) {
    QStringList names;
    for (const TPortHolder& h : holders) {
        if (h.pid == ::getpid())
            names << QStringLiteral("this program (process %1)").arg(h.pid);
        else
            names << QStringLiteral("%1 (process %2)")
                         .arg(h.command.isEmpty() ? QStringLiteral("a program") : h.command)
                         .arg(h.pid);
    }
    return names.join(QStringLiteral(", "));
}

} // namespace

QString WindowPortChoiceHint() {
    return QStringLiteral("choose the port the meter is on in the ComSetup menu "
                          "(\"orvex-log --list\" shows the serial ports of this computer).");
}

TUserIdentity TUserIdentity::Current() {
    TUserIdentity who;
    who.uid = ::geteuid();
    who.name = UserName(who.uid);
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        who.sessionGroups.resize(static_cast<std::size_t>(count));
        const int n = ::getgroups(count, who.sessionGroups.data());
        who.sessionGroups.resize(static_cast<std::size_t>(std::max(n, 0)));
    }
    who.sessionGroups.push_back(::getegid());
    if (const passwd* pw = ::getpwuid(who.uid)) {
        int n = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(n));
        if (::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &n) < 0) {
            groups.resize(static_cast<std::size_t>(n));
            if (::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &n) < 0) n = 0;
        }
        groups.resize(static_cast<std::size_t>(std::max(n, 0)));
        who.accountGroups = std::move(groups);
    }
    return who;
}

QList<TPortHolder> FindPortHolders(const QString& devicePath) {
    QList<TPortHolder> holders;
    struct stat device {};
    if (::stat(QFile::encodeName(devicePath).constData(), &device) != 0 || !S_ISCHR(device.st_mode))
        return holders;
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QString& pidText : pids) {
        bool numeric = false;
        const qint64 pid = pidText.toLongLong(&numeric);
        if (!numeric) continue;
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pidText);
        const QStringList fds = QDir(fdDir).entryList(QDir::Files | QDir::System, QDir::NoSort);
        for (const QString& fd : fds) {
            struct stat st {};
            const QByteArray link = QFile::encodeName(fdDir + u'/' + fd);
            if (::stat(link.constData(), &st) != 0) continue;
            if (!S_ISCHR(st.st_mode) || st.st_rdev != device.st_rdev) continue;
            TPortHolder holder;
            holder.pid = pid;
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pidText));
            if (comm.open(QIODevice::ReadOnly))
                holder.command = QString::fromLocal8Bit(comm.readAll()).trimmed();
            holders << holder;
            break;
        }
    }
    return holders;
}

TPortDiagnosis DiagnosePortOpenFailure(const QString& portName, const QString& devicePath,
                                       const TPortOpenFailure& failure, const TUserIdentity& user,
                                       const QString& portChoiceHint) {
    TPortDiagnosis d;
    const QString subject = Subject(portName, devicePath);
    const int e = failure.error;
    const QByteArray native = QFile::encodeName(devicePath);

    if (failure.step == TPortOpenFailure::NotATerminal) {
        d.problem = TPortProblem::NotSerial;
        d.text = QStringLiteral("%1 cannot be opened: it is not a serial device.\n\nGive the "
                                "device of the meter's serial line, or %2")
                     .arg(subject, portChoiceHint);
        return d;
    }
    if (failure.step == TPortOpenFailure::Lock ||
        (failure.step == TPortOpenFailure::Open && e == EBUSY)) {
        d.problem = TPortProblem::Busy;
        d.holders = FindPortHolders(devicePath);
        const QString who =
            d.holders.isEmpty()
                ? QStringLiteral("another program (which one could not be found out: it may run "
                                 "as another user)")
                : HolderText(d.holders);
        d.text = QStringLiteral("%1 cannot be opened: it is busy, in use by %2.\n\nEnd that "
                                "program or let it close the port, then connect again; or %3")
                     .arg(subject, who, portChoiceHint);
        return d;
    }
    if (e == ENOENT || e == ENOTDIR) {
        d.problem = TPortProblem::Missing;
        d.text = QStringLiteral("%1 cannot be opened: there is no such device.\n\nPlug in the "
                                "meter's serial cable or USB-serial adapter, or %2")
                     .arg(subject, portChoiceHint);
        return d;
    }
    if (e == ENXIO || e == ENODEV || e == EIO) {
        d.problem = TPortProblem::Missing;
        d.text = QStringLiteral("%1 cannot be opened: no such device (the name exists, but no "
                                "port answers behind it).\n\nPlug in the meter's serial cable or "
                                "USB-serial adapter, or %2")
                     .arg(subject, portChoiceHint);
        return d;
    }
    if (e == EACCES || e == EPERM) {
        d.problem = TPortProblem::NoPermission;
        struct stat st {};
        if (::stat(native.constData(), &st) != 0) {
            d.text = QStringLiteral("%1 cannot be opened: no permission (%2).")
                         .arg(subject, QString::fromLocal8Bit(std::strerror(e)));
            return d;
        }
        d.group = GroupName(st.st_gid);
        d.inGroup = Contains(user.sessionGroups, st.st_gid);
        const bool groupMayUse = (st.st_mode & 060) == 060;
        const QString node = QStringLiteral("owner %1, group %2, mode %3")
                                 .arg(UserName(st.st_uid), d.group)
                                 .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
        QString why, fix;
        if (!groupMayUse) {
            why = QStringLiteral("Only its owner %1 may read and write it (%2).")
                      .arg(UserName(st.st_uid), node);
            fix = QStringLiteral("Serial ports usually belong to the group dialout with mode "
                                 "0660; ask the computer's administrator to give this user "
                                 "access to %1.")
                      .arg(devicePath);
        } else if (d.inGroup) {
            why = QStringLiteral("This user (%1) is in its group %2, and still may not read "
                                 "and write it (%3).")
                      .arg(user.name, d.group, node);
            fix = QStringLiteral("Ask the computer's administrator about the access rules of "
                                 "%1.")
                      .arg(devicePath);
        } else if (Contains(user.accountGroups, st.st_gid)) {
            why = QStringLiteral("The device belongs to the group %1 (%2). This user (%3) was "
                                 "added to that group after this session began.")
                      .arg(d.group, node, user.name);
            fix = QStringLiteral("Log out and log in again (or restart the computer), then "
                                 "connect again.");
        } else {
            why = QStringLiteral("The device belongs to the group %1 (%2), and this user (%3) "
                                 "is not in that group.")
                      .arg(d.group, node, user.name);
            fix = QStringLiteral("Add the user to the group:\n  sudo usermod -aG %1 $USER\nthen "
                                 "log out and log in again, so that the new group takes effect "
                                 "(README, \"Serial port\").")
                      .arg(d.group);
        }
        d.text =
            QStringLiteral("%1 cannot be opened: no permission. %2\n\n%3").arg(subject, why, fix);
        return d;
    }
    d.problem = TPortProblem::Other;
    d.text = QStringLiteral("%1 cannot be opened: %2.")
                 .arg(subject, QString::fromLocal8Bit(std::strerror(e)));
    return d;
}

QString PortOpenFailureMessage(const TSerialPortDriver& driver, bool namedPort,
                               const QString& portChoiceHint) {
    return DiagnosePortOpenFailure(
               namedPort ? TSerialPortDriver::PortName(driver.ComPort()) : QString(),
               driver.PortDevicePath(driver.ComPort()), driver.LastOpenFailure(),
               TUserIdentity::Current(), portChoiceHint)
        .text;
}

QString SerialLostNotice(const QString& portName, const QString& devicePath) {
    return QStringLiteral("The link to the meter was lost: %1 is no longer there (the cable or "
                          "adapter was unplugged, or the line hung up).\n\nThe readings recorded "
                          "so far are kept. Plug it in again and press \"COM Connect\" to go on.")
        .arg(portName.isEmpty()
                 ? devicePath
                 : QStringLiteral("the serial port %1 (%2)").arg(portName, devicePath));
}

} // namespace orvex
