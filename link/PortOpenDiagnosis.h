#pragma once
// Why a serial port could not be opened, in plain words, with the fix where
// there is one.  The window's message box and orvex-log's error both come from
// here, so the two always say the same.
//
//   missing       no device node, or a node with no port behind it
//   busy          another program holds it (found through /proc/*/fd where this
//                 user may look), or it was opened exclusively by another user
//   no permission the node's owner, group and mode, whether this user is in that
//                 group (or was added to it after this session began), and
//                 "sudo usermod -aG <group> $USER" followed by logging out and in
//   not serial    a file or pipe given as the port
//
// SerialLostNotice() is the one notice for a port that vanished while open.

#include "link/SerialPortDriver.h"

#include <QList>
#include <QString>

#include <sys/types.h>
#include <vector>

namespace orvex {

// The identity whose access is judged: who runs the program, in which groups
// this session is, and in which groups the account is now (the group database).
struct TUserIdentity {
    uid_t uid = 0;
    QString name;
    std::vector<gid_t> sessionGroups; // effective and supplementary groups of this process
    std::vector<gid_t> accountGroups; // the account's groups in the group database

    static TUserIdentity Current();
};

// A process that holds a device open.
struct TPortHolder {
    qint64 pid = 0;
    QString command; // its name (/proc/PID/comm)
};

// Processes that hold the character device at `devicePath` open, found through
// /proc/*/fd (only those this user may look into).  The calling process is
// included when it holds the device.
QList<TPortHolder> FindPortHolders(const QString& devicePath);

enum class TPortProblem { Missing, Busy, NoPermission, NotSerial, Other };

struct TPortDiagnosis {
    TPortProblem problem = TPortProblem::Other;
    QString text; // the whole message: what, why, and the fix
    QList<TPortHolder> holders;
    QString group;        // the device's group (no permission)
    bool inGroup = false; // whether this session is in it
};

// How the user picks another port: in the window (the default) its ComSetup menu.
QString WindowPortChoiceHint();

// `portName` is "COM1" .. "COM4", or empty for a device given by path alone;
// `portChoiceHint` ends the fixes that are to pick another port (a sentence's end).
TPortDiagnosis DiagnosePortOpenFailure(const QString& portName, const QString& devicePath,
                                       const TPortOpenFailure& failure,
                                       const TUserIdentity& user = TUserIdentity::Current(),
                                       const QString& portChoiceHint = WindowPortChoiceHint());

// The message for the driver's last failed Connect(), for its current port.
QString PortOpenFailureMessage(const TSerialPortDriver& driver, bool namedPort = true,
                               const QString& portChoiceHint = WindowPortChoiceHint());

// The notice given once when the open port vanished (adapter pulled, line hung up).
QString SerialLostNotice(const QString& portName, const QString& devicePath);

} // namespace orvex
