#pragma once
// TSerialPortDriver: one COM port, opened exclusively, polled on the
// user-interface thread.  The meter only talks, so there is no send operation.
//
// Linux mapping of the component:
// - "COM1" .. "COM4" are the names of pnCOM1 .. pnCOM4.  Each maps to
//   /dev/ttyUSB0 .. /dev/ttyUSB3 when that device exists, else to
//   /dev/ttyS0 .. /dev/ttyS3; SetPortDevicePath() overrides the mapping of one
//   port (the window's --com1 .. --com4 options).
// - The device is opened O_RDWR | O_NOCTTY | O_NONBLOCK and made exclusive with
//   TIOCEXCL plus a non-blocking flock(), so a second program (or a second
//   driver) is refused even when it runs as root, which TIOCEXCL alone lets in.
// - The line is raw 8-bit: no echo, no line editing, no translation, NUL bytes
//   kept.  Parity is generated but not checked (no INPCK, IGNPAR and PARMRK
//   off), so characters with parity or framing errors arrive as received.
//   14400 and 56000 bit/s, which the POSIX speed table lacks, go through
//   termios2 with BOTHER.
// - DTR is raised (or lowered when EnableDTROnOpen is false) and, without
//   RTS/CTS, RTS is held low with TIOCMBIS / TIOCMBIC.  A pseudo-terminal
//   refuses these calls; that is ignored, as every failure to program the line.
// - Purges use tcflush().
//
// What has no Linux equivalent:
// - Queue sizes.  The kernel's tty buffers have a fixed size (4 KiB of line
//   discipline buffer per port), so ComPortInBufSize only sizes the driver's
//   own receive buffer (the largest batch) and ComPortOutBufSize is stored but
//   has no effect.  The XON threshold (ComPortInBufSize / 4) and XOFF threshold
//   are likewise the kernel's own.
// - 1.5 stop bits.  termios knows one or two (CSTOPB); sb1HALFBITS selects
//   CSTOPB, which a standard UART sends as 1.5 stop bits with 5 data bits and
//   as 2 otherwise.
// - The XON/XOFF characters stay the usual DC1/DC3 rather than NUL, so turning
//   software flow control on never swallows NUL data bytes.
// - Read timeouts: the poll reads non-blocking and returns at once.
//
// Re-entrancy: a handler may run a nested event loop (a modal message box).
// A tick that comes while the handler runs does not read; the bytes wait in
// the operating system's queue and come, in order, at the first tick after the
// handler has returned.
//
// A port that vanishes while open (adapter unplugged, other side hung up:
// EIO, end of file) stops the poll quietly: no events, no message; the driver
// stays "connected" until Disconnect(), which still works.  portLost() tells
// whoever cares.

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace orvex {

// Why the last Connect() failed: the step that refused the port and the
// system's error number (link/PortOpenDiagnosis.h puts it into words).
struct TPortOpenFailure {
    enum TStep { None, Open, NotATerminal, Lock };
    TStep step = None;
    int error = 0;
};

class TSerialPortDriver : public QObject {
    Q_OBJECT

  public:
    enum TComPortNumber { pnCOM1, pnCOM2, pnCOM3, pnCOM4 };
    Q_ENUM(TComPortNumber)
    enum TComPortBaudRate {
        br110,
        br300,
        br600,
        br1200,
        br2400,
        br4800,
        br9600,
        br14400,
        br19200,
        br38400,
        br56000,
        br57600,
        br115200
    };
    Q_ENUM(TComPortBaudRate)
    enum TComPortDataBits { db5BITS, db6BITS, db7BITS, db8BITS };
    Q_ENUM(TComPortDataBits)
    enum TComPortStopBits { sb1BITS, sb1HALFBITS, sb2BITS };
    Q_ENUM(TComPortStopBits)
    enum TComPortParity { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
    Q_ENUM(TComPortParity)
    enum TComPortHwHandshaking { hhNONE, hhRTSCTS };
    Q_ENUM(TComPortHwHandshaking)
    enum TComPortSwHandshaking { shNONE, shXONXOFF };
    Q_ENUM(TComPortSwHandshaking)

    // Sender, DataPtr (into the driver's receive buffer, valid until the
    // handler returns), DataSize (1 .. ComPortInBufSize).
    using TComPortReceiveDataEvent =
        std::function<void(TSerialPortDriver* Sender, const std::uint8_t* DataPtr, int DataSize)>;

    Q_PROPERTY(TComPortNumber ComPort READ ComPort WRITE SetComPort)
    Q_PROPERTY(TComPortBaudRate ComPortSpeed READ ComPortSpeed WRITE SetComPortSpeed)
    Q_PROPERTY(TComPortDataBits ComPortDataBits READ ComPortDataBits WRITE SetComPortDataBits)
    Q_PROPERTY(TComPortStopBits ComPortStopBits READ ComPortStopBits WRITE SetComPortStopBits)
    Q_PROPERTY(TComPortParity ComPortParity READ ComPortParity WRITE SetComPortParity)
    Q_PROPERTY(TComPortHwHandshaking ComPortHwHandshaking READ ComPortHwHandshaking WRITE
                   SetComPortHwHandshaking)
    Q_PROPERTY(TComPortSwHandshaking ComPortSwHandshaking READ ComPortSwHandshaking WRITE
                   SetComPortSwHandshaking)
    Q_PROPERTY(quint16 ComPortInBufSize READ ComPortInBufSize WRITE SetComPortInBufSize)
    Q_PROPERTY(quint16 ComPortOutBufSize READ ComPortOutBufSize WRITE SetComPortOutBufSize)
    Q_PROPERTY(quint16 ComPortPollingDelay READ ComPortPollingDelay WRITE SetComPortPollingDelay)
    Q_PROPERTY(bool EnableDTROnOpen READ EnableDTROnOpen WRITE SetEnableDTROnOpen)

    explicit TSerialPortDriver(QObject* parent = nullptr);
    ~TSerialPortDriver() override;

    TSerialPortDriver(const TSerialPortDriver&) = delete;
    TSerialPortDriver& operator=(const TSerialPortDriver&) = delete;

    // The receive event; not called while unassigned.
    TComPortReceiveDataEvent OnReceiveData;

    // Opens the port (true when it is open afterwards).  On an open driver it
    // returns true and changes nothing.
    bool Connect();
    // Closes the port; nothing when closed.
    void Disconnect();
    bool Connected() const { return fd_ >= 0; }
    // Programs the line, purges both queues, sizes the queues; nothing when closed.
    void ApplyLineSettings();
    // Discards the receive and/or transmit queue; nothing when closed.
    void PurgeQueues(bool input, bool output);
    // One tick of the receive poll (the timer calls it; public so that a caller
    // can poll at once).
    void PollReceive();

    TComPortNumber ComPort() const { return comPort_; }
    void SetComPort(TComPortNumber value);
    TComPortBaudRate ComPortSpeed() const { return speed_; }
    void SetComPortSpeed(TComPortBaudRate value);
    TComPortDataBits ComPortDataBits() const { return dataBits_; }
    void SetComPortDataBits(TComPortDataBits value);
    TComPortStopBits ComPortStopBits() const { return stopBits_; }
    void SetComPortStopBits(TComPortStopBits value);
    TComPortParity ComPortParity() const { return parity_; }
    void SetComPortParity(TComPortParity value);
    TComPortHwHandshaking ComPortHwHandshaking() const { return hwHandshaking_; }
    void SetComPortHwHandshaking(TComPortHwHandshaking value);
    TComPortSwHandshaking ComPortSwHandshaking() const { return swHandshaking_; }
    void SetComPortSwHandshaking(TComPortSwHandshaking value);
    quint16 ComPortInBufSize() const { return inBufSize_; }
    void SetComPortInBufSize(quint16 value);
    quint16 ComPortOutBufSize() const { return outBufSize_; }
    void SetComPortOutBufSize(quint16 value);
    quint16 ComPortPollingDelay() const { return pollingDelay_; }
    void SetComPortPollingDelay(quint16 value);
    bool EnableDTROnOpen() const { return enableDtrOnOpen_; }
    void SetEnableDTROnOpen(bool value) { enableDtrOnOpen_ = value; }

    // Line speed in bit/s for a speed value (110 .. 115200).
    static int BaudRateValue(TComPortBaudRate rate);
    // "COM1" .. "COM4".
    static QString PortName(TComPortNumber port);
    // /dev/ttyUSBn when it exists, else /dev/ttySn (n = port ordinal).
    static QString DefaultDevicePath(TComPortNumber port);

    // Maps one port to any serial device; an empty path restores the default.
    void SetPortDevicePath(TComPortNumber port, const QString& path);
    // The device a Connect() with that port would open.
    QString PortDevicePath(TComPortNumber port) const;
    // The device of the open port, empty when closed.
    QString OpenedDevicePath() const { return openedPath_; }
    // The size of the driver's receive buffer (the largest batch).
    int ReceiveBufferSize() const { return static_cast<int>(buffer_.size()); }
    // Bytes waiting in the operating system's receive queue (0 when closed).
    int InputQueueCount() const;
    // Why the last Connect() failed (step None after a successful one).
    const TPortOpenFailure& LastOpenFailure() const { return openFailure_; }
    // True once the open port has vanished (until Disconnect).
    bool PortLost() const { return lost_; }
    // True while OnReceiveData runs.
    bool InReceiveHandler() const { return inHandler_; }

  signals:
    // The open port vanished (EIO or end of file); polling has stopped.
    void portLost();

  private:
    void StartPollTimer();
    void MarkLost();

    TComPortNumber comPort_ = pnCOM2;
    TComPortBaudRate speed_ = br9600;
    TComPortDataBits dataBits_ = db8BITS;
    TComPortStopBits stopBits_ = sb1BITS;
    TComPortParity parity_ = ptNONE;
    TComPortHwHandshaking hwHandshaking_ = hhNONE;
    TComPortSwHandshaking swHandshaking_ = shNONE;
    quint16 inBufSize_ = 2048;
    quint16 outBufSize_ = 2048;
    quint16 pollingDelay_ = 50;
    bool enableDtrOnOpen_ = true;

    std::array<QString, 4> pathOverrides_;
    QString openedPath_;
    TPortOpenFailure openFailure_;
    int fd_ = -1;
    bool lost_ = false;
    bool inHandler_ = false;
    int pendingInBufSize_ = -1; // a resize asked for while the handler held the buffer
    std::vector<std::uint8_t> buffer_;
    QTimer pollTimer_;
};

// The stored settings of the window's instance COMM2: "COM1", 19200 bit/s,
// 7 data bits, odd parity (everything else keeps the driver's defaults).
void ConfigureAsCOMM2(TSerialPortDriver& driver);

} // namespace orvex
