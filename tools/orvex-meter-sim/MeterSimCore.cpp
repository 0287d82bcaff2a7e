#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace orvex::sim {

namespace {

PacketFields Fields(std::uint8_t function, std::uint8_t range, std::uint8_t option3,
                    std::uint8_t status = 0, std::uint8_t option1 = 0, std::uint8_t option2 = 0,
                    std::uint8_t option4 = 0) {
    PacketFields f;
    f.function = function;
    f.range = range;
    f.option3 = option3;
    f.status = status;
    f.option1 = option1;
    f.option2 = option2;
    f.option4 = option4;
    return f;
}

constexpr std::uint8_t kDcAuto = kOption3Dc | kOption3Auto; // 10
constexpr std::uint8_t kAcAuto = kOption3Ac | kOption3Auto; // 6
constexpr std::uint8_t kAuto = kOption3Auto;                // 2

// Function nibbles.
constexpr std::uint8_t fAmps10 = 0, fDiode = 1, fFrequency = 2, fOhms = 3, fTemperature = 4,
                       fContinuity = 5, fCapacitance = 6, fAmps = 9, fVolts = 11, fMicroAmps = 13,
                       fMilliAmps = 15;

std::vector<ScenarioSegment> BuildSegments() {
    std::vector<ScenarioSegment> s;
    auto add = [&](std::string label, PacketFields f, int counts, double noise, double drift = 0,
                   int packets = 6, bool frozen = false) {
        s.push_back({std::move(label), f, counts, noise, drift, packets, frozen});
    };
    // DC volts, auto range climbing through the ranges as the input rises.
    add("DC V 2 V range", Fields(fVolts, 0, kDcAuto), 12345, 2.0);
    add("DC V 20 V range", Fields(fVolts, 1, kDcAuto), 12345, 2.0, 15);
    add("DC V 200 V range", Fields(fVolts, 2, kDcAuto), 12345, 1.5);
    add("DC V 1000 V range", Fields(fVolts, 3, kDcAuto), 2301, 1.0);
    add("DC V negative", Fields(fVolts, 1, kDcAuto), -4987, 2.0);
    add("DC V manual range", Fields(fVolts, 1, kOption3Dc), 5001, 1.0);
    add("DC mV", Fields(fVolts, 4, kDcAuto), 12034, 4.0);
    add("DC V low battery", Fields(fVolts, 0, kDcAuto, kStatusBattery), 15002, 2.0);
    add("DC V hold", Fields(fVolts, 1, kDcAuto, 0, 0, 0, kOption4Hold), 3300, 0, 0, 6, true);
    add("DC V relative", Fields(fVolts, 1, kDcAuto, 0, kOption1Relative), 0, 3.0);
    add("DC V overload", Fields(fVolts, 1, kDcAuto, kStatusOverload), 0, 0);
    // AC volts.
    add("AC V 200 V range", Fields(fVolts, 2, kAcAuto), 12005, 6.0);
    add("AC V manual range", Fields(fVolts, 1, kOption3Ac), 11998, 5.0);
    add("AC V line frequency", Fields(fVolts, 2, 7), 5000, 1.0); // option-3 row 7
    add("AC V duty", Fields(fVolts, 2, 9), 500, 1.0);            // option-3 row 9
    add("AC V frequency kHz", Fields(fVolts, 3, 11), 1000, 2.0); // option-3 row 11
    add("V duty cycle", Fields(fVolts, 1, kDcAuto, kStatusDuty), 250, 1.0);
    add("duty overload", Fields(fVolts, 1, kDcAuto, 0, 0, kOption2DutyOverload), 0, 0);
    // Resistance, range by range.
    add("ohm 200 ohm range", Fields(fOhms, 0, kAuto), 10012, 3.0);
    add("ohm 2 kohm range", Fields(fOhms, 1, kAuto), 10003, 2.0);
    add("ohm 20 kohm range", Fields(fOhms, 2, kAuto), 4700, 2.0);
    add("ohm 200 kohm range", Fields(fOhms, 3, kAuto), 10050, 3.0);
    add("ohm 2 Mohm range", Fields(fOhms, 4, kAuto), 10100, 6.0);
    add("ohm 20 Mohm range", Fields(fOhms, 5, kAuto), 2201, 8.0);
    add("ohm 200 Mohm range", Fields(fOhms, 6, kAuto), 1500, 10.0);
    add("ohm open input", Fields(fOhms, 6, kAuto, kStatusOverload), 0, 0);
    add("continuity", Fields(fContinuity, 0, 0), 12, 1.0);
    add("diode", Fields(fDiode, 0, 0), 6123, 2.0);
    // Capacitance.
    add("capacitance 20 nF", Fields(fCapacitance, 0, kAuto), 10012, 4.0);
    add("capacitance 200 nF", Fields(fCapacitance, 1, kAuto), 4700, 3.0);
    add("capacitance 2 uF", Fields(fCapacitance, 2, kAuto), 10001, 3.0);
    add("capacitance 20 uF", Fields(fCapacitance, 3, kAuto), 4702, 3.0);
    add("capacitance 200 uF", Fields(fCapacitance, 4, kAuto), 10004, 4.0);
    add("capacitance 2 mF", Fields(fCapacitance, 5, kAuto), 1000, 4.0);
    add("capacitance 20 mF", Fields(fCapacitance, 6, kAuto), 1000, 5.0);
    add("capacitance 200 mF", Fields(fCapacitance, 7, kAuto), 1000, 6.0);
    // Frequency, every range, and its duty cycle.
    for (std::uint8_t r = 0; r <= 7; ++r)
        add("frequency range " + std::to_string(r), Fields(fFrequency, r, kAuto), 5000 + 1000 * r,
            2.0, 0, 3);
    add("frequency duty cycle", Fields(fFrequency, 0, kAuto, kStatusDuty), 500, 2.0);
    add("temperature", Fields(fTemperature, 0, 0), 24, 0.4, 0.05);
    // Currents.
    add("DC uA", Fields(fMicroAmps, 0, kDcAuto), 12345, 5.0);
    add("AC uA", Fields(fMicroAmps, 1, kAcAuto), 2150, 3.0);
    add("uA duty cycle", Fields(fMicroAmps, 0, kDcAuto, kStatusDuty), 333, 1.0);
    add("DC mA", Fields(fMilliAmps, 0, kDcAuto), 12345, 4.0);
    add("AC mA", Fields(fMilliAmps, 1, kAcAuto), 4567, 3.0);
    add("mA duty cycle", Fields(fMilliAmps, 0, kDcAuto, kStatusDuty), 420, 1.0);
    add("DC A", Fields(fAmps, 0, kDcAuto), 123, 1.0);
    add("DC A 2 A range", Fields(fAmps, 1, kDcAuto), 1234, 2.0);
    add("AC A", Fields(fAmps, 2, kAcAuto), 1502, 2.0);
    add("DC A 200 A range", Fields(fAmps, 3, kDcAuto), 102, 1.0);
    add("DC A 10 A input", Fields(fAmps10, 0, kDcAuto), 5123, 3.0);
    add("A duty cycle", Fields(fAmps10, 0, kDcAuto, kStatusDuty), 600, 1.0);
    add("DC A negative", Fields(fAmps10, 0, kDcAuto), -2040, 3.0);
    return s;
}

long long NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

} // namespace

PacketFields WithCounts(PacketFields fields, int counts) {
    if (counts < 0)
        fields.status |= kStatusMinus;
    else
        fields.status &= static_cast<std::uint8_t>(~kStatusMinus);
    int magnitude = std::min(std::abs(counts), 99999);
    for (int i = 4; i >= 0; --i) {
        fields.digits[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(magnitude % 10);
        magnitude /= 10;
    }
    return fields;
}

TMeterScenario::TMeterScenario(std::uint32_t seed) : rng_(seed) {}

const std::vector<ScenarioSegment>& TMeterScenario::Segments() {
    static const std::vector<ScenarioSegment> segments = BuildSegments();
    return segments;
}

int TMeterScenario::PacketsPerCycle() {
    int total = 0;
    for (const ScenarioSegment& s : Segments())
        total += s.packets;
    return total;
}

const ScenarioSegment& TMeterScenario::CurrentSegment() const {
    return Segments()[segment_];
}

PacketFields TMeterScenario::Next() {
    const auto& segments = Segments();
    ++packetInSegment_;
    if (packetInSegment_ >= segments[segment_].packets) {
        packetInSegment_ = 0;
        segment_ = (segment_ + 1) % segments.size();
    }
    const ScenarioSegment& s = segments[segment_];
    int counts = s.baseCounts;
    if (s.frozen) {
        counts = packetInSegment_ == 0 ? s.baseCounts : lastCounts_;
    } else {
        double value = s.baseCounts + s.driftCounts * packetInSegment_;
        if (s.noiseCounts > 0) {
            std::normal_distribution<double> noise(0.0, s.noiseCounts);
            value += noise(rng_);
        }
        counts = static_cast<int>(std::lround(value));
        // A positive reading does not cross zero by noise (ohms are never
        // negative); a zero one (relative mode) may.
        if (s.baseCounts > 0 && counts < 0) counts = 0;
    }
    lastCounts_ = counts;
    return WithCounts(s.fields, counts);
}

TFaultInjector::TFaultInjector(double probability, std::uint32_t seed)
    : probability_(std::clamp(probability, 0.0, 1.0)), rng_(seed) {}

void TFaultInjector::Apply(const std::uint8_t* data, std::size_t size,
                           std::vector<std::uint8_t>& out) {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> kind(0, 2);
    std::uniform_int_distribution<int> bit(0, 6);
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        if (probability_ <= 0.0 || chance(rng_) >= probability_) {
            out.push_back(byte);
            continue;
        }
        switch (kind(rng_)) {
        case 0:
            ++dropped;
            break;
        case 1:
            ++duplicated;
            out.push_back(byte);
            out.push_back(byte);
            break;
        default:
            ++flipped;
            out.push_back(static_cast<std::uint8_t>(byte ^ (1u << bit(rng_))));
            break;
        }
    }
}

TPacer::TPacer(double eventsPerSecond)
    : periodNs_(eventsPerSecond > 0 ? 1e9 / eventsPerSecond : 0.0) {}

bool TPacer::WaitNext(const volatile int* stop) {
    if (periodNs_ <= 0) return !(stop && *stop);
    const long long now = NowNs();
    if (nextNs_ == 0) nextNs_ = now;
    // A sender that fell far behind (suspended, say) starts afresh rather
    // than bursting to catch up.
    if (now - nextNs_ > 1000000000LL) nextNs_ = now;
    timespec due{};
    due.tv_sec = static_cast<time_t>(nextNs_ / 1000000000LL);
    due.tv_nsec = static_cast<long>(nextNs_ % 1000000000LL);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        if (stop && *stop) return false;
    }
    nextNs_ += static_cast<long long>(periodNs_);
    return !(stop && *stop);
}

TMeterPty::~TMeterPty() {
    Close();
}

bool TMeterPty::Open(std::string* error) {
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        if (error) *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        if (error) *error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ >= 0) {
        termios tio{};
        if (tcgetattr(slave_, &tio) == 0) {
            cfmakeraw(&tio);
            cfsetispeed(&tio, B19200);
            cfsetospeed(&tio, B19200);
            (void)tcsetattr(slave_, TCSANOW, &tio);
        }
    }
    const int flags = fcntl(master_, F_GETFL);
    if (flags >= 0) (void)fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    return true;
}

void TMeterPty::Close() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
    path_.clear();
}

std::size_t TMeterPty::Write(const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    int stalls = 0;
    while (done < size && master_ >= 0) {
        const ssize_t n = ::write(master_, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            stalls = 0;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
        // Queue full: give the receiver a moment, then give up on this chunk.
        if (++stalls > 3) break;
        pollfd p{master_, POLLOUT, 0};
        (void)::poll(&p, 1, 5);
    }
    return done;
}

void TMeterPty::DrainInput() {
    if (master_ < 0) return;
    std::uint8_t sink[256];
    while (::read(master_, sink, sizeof sink) > 0) {
    }
}

void TMeterPty::WaitUntilTaken(int maxMs) {
    if (slave_ < 0) return;
    const long long deadline = NowNs() + static_cast<long long>(maxMs) * 1000000LL;
    // Give the kernel a moment to move the last write into the receive queue.
    timespec pause{0, 20 * 1000000L};
    nanosleep(&pause, nullptr);
    while (NowNs() < deadline) {
        int queued = 0;
        if (ioctl(slave_, FIONREAD, &queued) != 0 || queued == 0) return;
        timespec step{0, 2 * 1000000L};
        nanosleep(&step, nullptr);
    }
}

std::vector<std::vector<std::uint8_t>> CableReports(const std::uint8_t* bytes, std::size_t size,
                                                    bool endWithIdle) {
    std::vector<std::vector<std::uint8_t>> reports;
    const std::size_t perReport = kCableReportSize - 1;
    for (std::size_t at = 0; at < size; at += perReport) {
        const std::size_t n = std::min(perReport, size - at);
        std::vector<std::uint8_t> r(kCableReportSize, 0);
        r[0] = static_cast<std::uint8_t>(n);
        std::copy(bytes + at, bytes + at + n, r.begin() + 1);
        reports.push_back(std::move(r));
    }
    if (endWithIdle) reports.emplace_back(kCableReportSize, 0);
    return reports;
}

bool ReadCaptureFile(const std::string& path, std::vector<std::uint8_t>* bytes,
                     std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes->clear();
    std::uint8_t chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        if (error) *error = "cannot read " + path;
        return false;
    }
    return true;
}

} // namespace orvex::sim
