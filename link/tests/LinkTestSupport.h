#pragma once
// Helpers for the link tests: a real pseudo-terminal as the meter's line and
// bounded waits for the kernel to move bytes across it.

#include "link/SerialPortDriver.h"
#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvex::testing {

// Waits (bounded, never asserted on) until pred() holds; pumps events.
inline bool WaitFor(const std::function<bool()>& pred, int limitMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(500);
    }
    return true;
}

inline std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

inline void WriteAll(sim::TMeterPty& pty, const std::vector<std::uint8_t>& bytes) {
    pty.Write(bytes.data(), bytes.size());
}

// Collects every batch the driver hands over.
struct BatchRecorder {
    std::vector<std::uint8_t> bytes;
    std::vector<int> sizes;

    void Attach(TSerialPortDriver& driver) {
        driver.OnReceiveData = [this](TSerialPortDriver*, const std::uint8_t* data, int size) {
            bytes.insert(bytes.end(), data, data + size);
            sizes.push_back(size);
        };
    }
};

// Polls by hand until the recorder holds n bytes (bounded).
inline bool PollUntil(TSerialPortDriver& driver, const BatchRecorder& rec, std::size_t n) {
    return WaitFor([&] {
        driver.PollReceive();
        return rec.bytes.size() >= n;
    });
}

} // namespace orvex::testing
