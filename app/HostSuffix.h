#pragma once
// The processor suffix of the window caption.

#include <QString>

#include <functional>

namespace orvex {

// Returns the operating system's machine name, as uname(2) reports it ("x86_64", "i686", ...).
using MachineProbe = std::function<QString()>;

QString UnameMachine();

// "(x64)" on an x86-64 operating system (whatever the build of this program),
// "(x86)" on a 32-bit x86 one, otherwise the machine name in parentheses ("(aarch64)").
QString CaptionSuffix(const MachineProbe& probe = UnameMachine);

} // namespace orvex
