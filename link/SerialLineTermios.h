#pragma once
// The termios block the driver hands to the kernel for its line settings.
// Separate from SerialPortDriver.h so that the window does not see the
// <termios.h> macros.

#include "link/SerialPortDriver.h"

#include <termios.h>

namespace orvex {

struct TLineTermios {
    struct termios tio;
    // The bit rate when it is outside the POSIX speed table (14400, 56000):
    // tio then carries B9600 and the rate is set through termios2.  0 otherwise.
    int customSpeed = 0;
};

// Built from nothing (the port's current settings are not read first).
TLineTermios BuildLineTermios(const TSerialPortDriver& driver);

} // namespace orvex
