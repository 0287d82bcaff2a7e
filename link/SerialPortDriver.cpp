#include "link/SerialPortDriver.h"

#include "link/SerialCustomSpeed.h"
#include "link/SerialLineTermios.h"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace orvex {

namespace {

constexpr int kSpeedTable[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                               14400, 19200, 38400, 56000, 57600, 115200};

// The POSIX speed constant for a bit rate, or 0 when there is none.
speed_t PosixSpeed(int bitsPerSecond) {
    switch (bitsPerSecond) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return 0;
    }
}

} // namespace

TLineTermios BuildLineTermios(const TSerialPortDriver& d) {
    TLineTermios line;
    struct termios& tio = line.tio;
    std::memset(&tio, 0, sizeof tio);
    // Raw 8-bit reception: no input processing, no output processing, no
    // echo or line editing; parity not checked (no INPCK), errors not marked
    // (no PARMRK) nor dropped (no IGNPAR), bytes kept whole (no ISTRIP).
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    // Ignore the modem status lines (no DSR/DCD sensitivity); drop DTR and RTS
    // when the port is closed.
    tio.c_cflag = CREAD | CLOCAL | HUPCL;
    switch (d.ComPortDataBits()) {
    case TSerialPortDriver::db5BITS:
        tio.c_cflag |= CS5;
        break;
    case TSerialPortDriver::db6BITS:
        tio.c_cflag |= CS6;
        break;
    case TSerialPortDriver::db7BITS:
        tio.c_cflag |= CS7;
        break;
    case TSerialPortDriver::db8BITS:
        tio.c_cflag |= CS8;
        break;
    }
    switch (d.ComPortParity()) {
    case TSerialPortDriver::ptNONE:
        break;
    case TSerialPortDriver::ptODD:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case TSerialPortDriver::ptEVEN:
        tio.c_cflag |= PARENB;
        break;
    case TSerialPortDriver::ptMARK:
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case TSerialPortDriver::ptSPACE:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (d.ComPortStopBits() != TSerialPortDriver::sb1BITS) tio.c_cflag |= CSTOPB;
    if (d.ComPortHwHandshaking() == TSerialPortDriver::hhRTSCTS) tio.c_cflag |= CRTSCTS;
    if (d.ComPortSwHandshaking() == TSerialPortDriver::shXONXOFF) tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    // With O_NONBLOCK, VMIN 1 makes an empty queue answer EAGAIN, so that a
    // read of 0 bytes means the other side has gone.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;

    const int bitsPerSecond = TSerialPortDriver::BaudRateValue(d.ComPortSpeed());
    const speed_t posix = PosixSpeed(bitsPerSecond);
    cfsetospeed(&tio, posix ? posix : B9600);
    cfsetispeed(&tio, posix ? posix : B9600);
    line.customSpeed = posix ? 0 : bitsPerSecond;
    return line;
}

TSerialPortDriver::TSerialPortDriver(QObject* parent) : QObject(parent) {
    buffer_.resize(inBufSize_);
    pollTimer_.setTimerType(Qt::PreciseTimer);
    connect(&pollTimer_, &QTimer::timeout, this, &TSerialPortDriver::PollReceive);
}

TSerialPortDriver::~TSerialPortDriver() {
    Disconnect();
}

int TSerialPortDriver::BaudRateValue(TComPortBaudRate rate) {
    const int index = static_cast<int>(rate);
    if (index < 0 || index >= static_cast<int>(std::size(kSpeedTable))) return 0;
    return kSpeedTable[index];
}

QString TSerialPortDriver::PortName(TComPortNumber port) {
    return QStringLiteral("COM") + QChar(u'1' + static_cast<int>(port));
}

QString TSerialPortDriver::DefaultDevicePath(TComPortNumber port) {
    const QString usb = QStringLiteral("/dev/ttyUSB%1").arg(static_cast<int>(port));
    if (QFileInfo::exists(usb)) return usb;
    return QStringLiteral("/dev/ttyS%1").arg(static_cast<int>(port));
}

void TSerialPortDriver::SetPortDevicePath(TComPortNumber port, const QString& path) {
    const int index = static_cast<int>(port);
    if (index < 0 || index >= static_cast<int>(pathOverrides_.size())) return;
    pathOverrides_[index] = path;
}

QString TSerialPortDriver::PortDevicePath(TComPortNumber port) const {
    const int index = static_cast<int>(port);
    if (index >= 0 && index < static_cast<int>(pathOverrides_.size()) &&
        !pathOverrides_[index].isEmpty())
        return pathOverrides_[index];
    return DefaultDevicePath(port);
}

bool TSerialPortDriver::Connect() {
    if (Connected()) return true;
    const QString path = PortDevicePath(comPort_);
    const QByteArray native = path.toLocal8Bit();
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        openFailure_ = {TPortOpenFailure::Open, errno};
        return false;
    }
    // Only ttys: a plain file or a pipe given by mistake is refused.
    if (!isatty(fd)) {
        openFailure_ = {TPortOpenFailure::NotATerminal, ENOTTY};
        ::close(fd);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        openFailure_ = {TPortOpenFailure::Lock, errno};
        ::close(fd);
        return false;
    }
    openFailure_ = {};
    // TIOCEXCL keeps out later opens by ordinary users; the lock above keeps
    // out every other cooperating program, root included.
    (void)ioctl(fd, TIOCEXCL);
    fd_ = fd;
    lost_ = false;
    openedPath_ = path;
    ApplyLineSettings();
    StartPollTimer();
    return true;
}

void TSerialPortDriver::Disconnect() {
    if (!Connected()) return;
    pollTimer_.stop();
    (void)ioctl(fd_, TIOCNXCL);
    (void)flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
    lost_ = false;
    openedPath_.clear();
}

void TSerialPortDriver::ApplyLineSettings() {
    if (!Connected()) return;

    const TLineTermios line = BuildLineTermios(*this);
    (void)tcsetattr(fd_, TCSANOW, &line.tio);
    if (line.customSpeed) (void)SetCustomLineSpeed(fd_, line.customSpeed);

    // The meter's isolated cable draws its power from DTR (and wants RTS low).
    int dtr = TIOCM_DTR;
    (void)ioctl(fd_, enableDtrOnOpen_ ? TIOCMBIS : TIOCMBIC, &dtr);
    if (hwHandshaking_ != hhRTSCTS) {
        int rts = TIOCM_RTS;
        (void)ioctl(fd_, TIOCMBIC, &rts);
    }

    PurgeQueues(true, true);
    // Queue sizes: the kernel's are fixed; see the header.
}

void TSerialPortDriver::PurgeQueues(bool input, bool output) {
    if (!Connected()) return;
    if (input && output)
        (void)tcflush(fd_, TCIOFLUSH);
    else if (input)
        (void)tcflush(fd_, TCIFLUSH);
    else if (output)
        (void)tcflush(fd_, TCOFLUSH);
}

int TSerialPortDriver::InputQueueCount() const {
    if (!Connected()) return 0;
    int count = 0;
    if (ioctl(fd_, FIONREAD, &count) != 0) return 0;
    return count;
}

void TSerialPortDriver::PollReceive() {
    if (!Connected() || lost_) return;
    // A tick inside a nested event loop of the handler: leave the bytes in the
    // kernel's queue; the tick after the handler returns takes them, in order.
    if (inHandler_) return;
    if (buffer_.empty()) return;

    ssize_t n;
    do {
        n = ::read(fd_, buffer_.data(), buffer_.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        if (errno == EIO || errno == ENXIO || errno == ENODEV || errno == EBADF) MarkLost();
        return;
    }
    if (n == 0) {
        // End of file on a tty: the line hung up (with the line programmed, an
        // empty queue answers EAGAIN).  Ask the kernel before giving up on it,
        // in case the line settings were refused and reads merely time out.
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) MarkLost();
        return;
    }
    if (!OnReceiveData) return;

    // Called through a copy, so a handler may reassign OnReceiveData; the
    // guard notices a handler that destroys the driver.
    const TComPortReceiveDataEvent handler = OnReceiveData;
    QPointer<TSerialPortDriver> self(this);
    inHandler_ = true;
    handler(this, buffer_.data(), static_cast<int>(n));
    if (!self) return;
    inHandler_ = false;
    if (pendingInBufSize_ >= 0) {
        buffer_.assign(static_cast<std::size_t>(pendingInBufSize_), 0);
        pendingInBufSize_ = -1;
    }
}

void TSerialPortDriver::MarkLost() {
    if (lost_) return;
    lost_ = true;
    pollTimer_.stop();
    emit portLost();
}

void TSerialPortDriver::StartPollTimer() {
    // An interval of 0 would spin the event loop; 1 ms is the shortest tick.
    pollTimer_.start(std::max<int>(1, pollingDelay_));
}

void TSerialPortDriver::SetComPort(TComPortNumber value) {
    if (Connected()) return;
    comPort_ = value;
}

void TSerialPortDriver::SetComPortSpeed(TComPortBaudRate value) {
    speed_ = value;
    ApplyLineSettings();
}

void TSerialPortDriver::SetComPortDataBits(TComPortDataBits value) {
    dataBits_ = value;
    ApplyLineSettings();
}

void TSerialPortDriver::SetComPortStopBits(TComPortStopBits value) {
    stopBits_ = value;
    ApplyLineSettings();
}

void TSerialPortDriver::SetComPortParity(TComPortParity value) {
    parity_ = value;
    ApplyLineSettings();
}

void TSerialPortDriver::SetComPortHwHandshaking(TComPortHwHandshaking value) {
    hwHandshaking_ = value;
    ApplyLineSettings();
}

void TSerialPortDriver::SetComPortSwHandshaking(TComPortSwHandshaking value) {
    swHandshaking_ = value;
    ApplyLineSettings();
}

void TSerialPortDriver::SetComPortInBufSize(quint16 value) {
    if (Connected()) return;
    inBufSize_ = value;
    // The handler may have closed the port and still be reading its batch:
    // the buffer is replaced once it has returned.
    if (inHandler_)
        pendingInBufSize_ = value;
    else
        buffer_.assign(value, 0);
}

void TSerialPortDriver::SetComPortOutBufSize(quint16 value) {
    // Stored in either state; takes effect (as far as Linux has one) at the
    // next ApplyLineSettings.
    outBufSize_ = value;
}

void TSerialPortDriver::SetComPortPollingDelay(quint16 value) {
    if (value == pollingDelay_) return;
    const bool running = Connected() && pollTimer_.isActive();
    if (running) pollTimer_.stop();
    pollingDelay_ = value;
    if (running) StartPollTimer();
}

void ConfigureAsCOMM2(TSerialPortDriver& driver) {
    driver.SetComPort(TSerialPortDriver::pnCOM1);
    driver.SetComPortSpeed(TSerialPortDriver::br19200);
    driver.SetComPortDataBits(TSerialPortDriver::db7BITS);
    driver.SetComPortParity(TSerialPortDriver::ptODD);
}

} // namespace orvex
