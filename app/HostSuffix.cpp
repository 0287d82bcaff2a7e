#include "app/HostSuffix.h"

#include <QRegularExpression>

#include <sys/utsname.h>

namespace orvex {

QString UnameMachine() {
    utsname info{};
    if (uname(&info) != 0) return {};
    return QString::fromLocal8Bit(info.machine);
}

QString CaptionSuffix(const MachineProbe& probe) {
    const QString machine = (probe ? probe() : QString()).trimmed();
    const QString m = machine.toLower();
    if (m == QLatin1String("x86_64") || m == QLatin1String("amd64") || m == QLatin1String("x64"))
        return QStringLiteral("(x64)");
    static const QRegularExpression x86(QStringLiteral("^(i[3-6]86|x86|i86pc)$"));
    if (machine.isEmpty() || x86.match(m).hasMatch()) return QStringLiteral("(x86)");
    return QLatin1Char('(') + machine + QLatin1Char(')');
}

} // namespace orvex
