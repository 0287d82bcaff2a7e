#pragma once
// orvex-log's USB adapter cable inputs: a live cable (--usb, --hidraw) read
// through the window's HID controller and cable link, a replay of recorded
// reports (--hid-replay) through the same cable link, and the --list of what
// can be connected.

#include <QString>

#include <functional>
#include <string>

namespace orvex {

struct UsbInputOptions {
    bool usb = false;      // the first "USB to Serial" cable
    std::string hidraw;    // or this node
    std::string capture;   // --hid-capture FILE
    long long frames = -1; // stop after this many decoded frames
    double seconds = -1;   // stop after this many seconds
    // Runs once the cable is open, before the first report is read; false ends
    // the run with status 2 (it has said why).
    std::function<bool()> started;
};

// Hands every frame that passes the "A…D" check to onFrame; returns the exit
// status (0 at --frames, --seconds or a stop signal; 1 when the cable is
// lost or the capture cannot be written; 2 when no cable can be read).
int RunUsbInput(const UsbInputOptions& options, const std::function<void(const QString&)>& onFrame,
                const std::function<long long()>& decodedFrames);

// Replays a report file through the cable link; returns the exit status
// (2 for a file that cannot be read or a malformed line). `started` runs once
// the file is read and checked, as for RunUsbInput.
int RunHidReplay(const std::string& path, const std::function<void(const QString&)>& onFrame,
                 const std::function<bool()>& started = {});

// Prints COM1..COM4 with their devices, the other serial devices and every
// HID device, each with whether it can be opened; returns the exit status.
int ListConnectableDevices();

} // namespace orvex
