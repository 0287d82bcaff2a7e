#include "link/SerialCustomSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace orvex {

bool SetCustomLineSpeed(int fd, int bitsPerSecond) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(bitsPerSecond);
    tio.c_ospeed = static_cast<speed_t>(bitsPerSecond);
    return ioctl(fd, TCSETS2, &tio) == 0;
}

bool ReadLineSpeed(int fd, int* outputSpeed, int* inputSpeed) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    if (outputSpeed) *outputSpeed = static_cast<int>(tio.c_ospeed);
    if (inputSpeed) *inputSpeed = static_cast<int>(tio.c_ispeed);
    return true;
}

} // namespace orvex
