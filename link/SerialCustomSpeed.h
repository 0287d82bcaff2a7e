#pragma once
// Line speeds outside the POSIX speed table, through termios2 / BOTHER.
// Kept apart because <asm/termbits.h> and <termios.h> cannot share a file.

namespace orvex {

// Sets the input and output speed of an open tty to any bit rate, keeping the
// rest of its settings.  False when the tty refuses.
bool SetCustomLineSpeed(int fd, int bitsPerSecond);

// Reads the output and input speed of an open tty in bit/s (for any speed,
// standard or not).  False when the tty refuses.
bool ReadLineSpeed(int fd, int* outputSpeed, int* inputSpeed);

} // namespace orvex
