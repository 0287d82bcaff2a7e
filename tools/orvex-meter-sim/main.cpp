// orvex-meter-sim: a virtual meter on a pseudo-terminal.
//
// Prints the path of its device on the first line of standard output and then
// streams packets the way the meter does, until SIGINT / SIGTERM, --count, or
// the end of a --replay capture.

#include "tools/orvex-meter-sim/MeterSimCore.h"
#include "tools/orvex-meter-sim/UhidCable.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t gStop = 0;
volatile int gStopFlag = 0;

void OnSignal(int) {
    gStop = 1;
    gStopFlag = 1;
}

void PrintHelp(FILE* out) {
    std::fprintf(out, "Usage: orvex-meter-sim [options]\n"
                      "A virtual meter: opens a pseudo-terminal, prints the path of its device\n"
                      "and streams meter packets on it until stopped (SIGINT / SIGTERM).\n"
                      "\n"
                      "Options:\n"
                      "  --rate N        packets per second (default 2, as a real meter);\n"
                      "                  --rate max sends as fast as a 19200 bit/s 7O1 line\n"
                      "                  allows (about 137 packets per second), paced\n"
                      "  --count N       stop after N packets\n"
                      "  --replay FILE   send the raw capture FILE instead of the scenario\n"
                      "                  (paced as the line carries it, or by --rate packets\n"
                      "                  of 14 bytes per second)\n"
                      "  --faults P      drop, duplicate or flip each byte with probability P\n"
                      "                  (0 to 1)\n"
                      "  --seed N        seed of the reading noise and the faults (default 1)\n"
                      "  --link PATH     also make PATH a symbolic link to the device (removed\n"
                      "                  on exit), e.g. for orvex-interface --com1 PATH\n"
                      "  --hid           be a USB adapter cable instead: a HID device named\n"
                      "                  \"USB to Serial\" made through /dev/uhid (needs a kernel\n"
                      "                  with it and access to it, usually root), whose\n"
                      "                  /dev/hidraw node is printed; then press \"USB Connect\"\n"
                      "                  in the window or run orvex-log --usb\n"
                      "  --help          show this text\n");
}

bool ParseDouble(const char* text, double* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || v != v) return false;
    *value = v;
    return true;
}

bool ParseCount(const char* text, long long* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < 0) return false;
    *value = v;
    return true;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "orvex-meter-sim: %s\nTry 'orvex-meter-sim --help'.\n", message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace orvex;
    double rate = sim::kDefaultPacketsPerSecond;
    bool rateGiven = false;
    long long count = -1;
    double faults = 0.0;
    long long seed = 1;
    std::string replay;
    std::string link;
    bool hid = false;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)name;
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            PrintHelp(stdout);
            return 0;
        } else if (arg == "--rate") {
            const char* v = value("--rate");
            if (!v) return Usage("--rate needs a value");
            if (std::strcmp(v, "max") == 0) {
                rate = sim::kMaxPacketsPerSecond;
            } else if (!ParseDouble(v, &rate) || rate <= 0 || rate > sim::kMaxPacketsPerSecond) {
                return Usage(std::string("--rate must be a number above 0 and at most ") +
                             std::to_string(sim::kMaxPacketsPerSecond) + ", or max: " + v);
            }
            rateGiven = true;
        } else if (arg == "--count") {
            const char* v = value("--count");
            if (!ParseCount(v, &count)) return Usage("--count must be a whole number >= 0");
        } else if (arg == "--faults") {
            const char* v = value("--faults");
            if (!ParseDouble(v, &faults) || faults < 0 || faults > 1)
                return Usage("--faults must be a probability from 0 to 1");
        } else if (arg == "--seed") {
            const char* v = value("--seed");
            if (!ParseCount(v, &seed)) return Usage("--seed must be a whole number >= 0");
        } else if (arg == "--link") {
            const char* v = value("--link");
            if (!v || !*v) return Usage("--link needs a path");
            link = v;
        } else if (arg == "--hid") {
            hid = true;
        } else if (arg == "--replay") {
            const char* v = value("--replay");
            if (!v) return Usage("--replay needs a file");
            replay = v;
        } else {
            return Usage("unknown option " + arg);
        }
    }

    std::vector<std::uint8_t> capture;
    if (!replay.empty()) {
        std::string error;
        if (!sim::ReadCaptureFile(replay, &capture, &error)) {
            std::fprintf(stderr, "orvex-meter-sim: %s\n", error.c_str());
            return 1;
        }
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a signal ends the current wait
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (hid && !link.empty()) return Usage("--link goes with the pseudo-terminal, not with --hid");
    sim::TMeterPty pty;
    sim::TUhidCable cable;
    std::string error;
    if (hid ? !cable.Open(&error) : !pty.Open(&error)) {
        std::fprintf(stderr, "orvex-meter-sim: %s\n", error.c_str());
        return 1;
    }
    std::string device = hid ? cable.WaitForNode(3000) : pty.devicePath();
    if (hid && device.empty()) device = "(virtual USB cable; its hidraw node was not found)";
    if (hid && device[0] == '/' && ::geteuid() == 0) {
        // Started with sudo: the invoking user may open the virtual cable.
        if (const char* uid = std::getenv("SUDO_UID")) {
            const char* gid = std::getenv("SUDO_GID");
            if (::chown(device.c_str(), static_cast<uid_t>(std::atoi(uid)),
                        gid ? static_cast<gid_t>(std::atoi(gid)) : gid_t(-1)) != 0)
                std::fprintf(stderr, "orvex-meter-sim: cannot hand %s to the user: %s\n",
                             device.c_str(), std::strerror(errno));
        }
    }
    // The bytes of the line, or the cable's reports carrying them.
    auto send = [&](const std::uint8_t* data, std::size_t size) {
        if (hid) {
            for (const auto& report : sim::CableReports(data, size))
                cable.SendReport(report);
        } else {
            pty.Write(data, size);
            pty.DrainInput();
        }
    };
    if (!link.empty()) {
        // Only a symbolic link (a stale one from an earlier run) is replaced;
        // any other file at that path is left alone.
        struct stat st {};
        if (lstat(link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "orvex-meter-sim: %s exists and is not a symbolic link\n",
                             link.c_str());
                return 1;
            }
            unlink(link.c_str());
        }
        if (symlink(pty.devicePath().c_str(), link.c_str()) != 0) {
            std::fprintf(stderr, "orvex-meter-sim: cannot create %s: %s\n", link.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    std::printf("%s\n", device.c_str());
    std::fflush(stdout);

    sim::TFaultInjector injector(faults, static_cast<std::uint32_t>(seed) + 7u);
    std::vector<std::uint8_t> out;
    long long sent = 0;

    if (!replay.empty()) {
        // A chunk of one packet's size at a time, at the line's pace.
        const double chunksPerSecond = rateGiven ? rate : sim::kMaxPacketsPerSecond;
        sim::TPacer pacer(chunksPerSecond);
        std::size_t offset = 0;
        while (!gStop && offset < capture.size() && (count < 0 || sent < count)) {
            if (!pacer.WaitNext(&gStopFlag)) break;
            const std::size_t n = std::min<std::size_t>(sim::kPacketBytes, capture.size() - offset);
            out.clear();
            injector.Apply(capture.data() + offset, n, out);
            send(out.data(), out.size());
            offset += n;
            ++sent;
        }
    } else {
        sim::TMeterScenario scenario(static_cast<std::uint32_t>(seed));
        sim::TPacer pacer(rate);
        while (!gStop && (count < 0 || sent < count)) {
            if (!pacer.WaitNext(&gStopFlag)) break;
            const Packet packet = EncodePacket(scenario.Next());
            out.clear();
            injector.Apply(packet.data(), packet.size(), out);
            send(out.data(), out.size());
            ++sent;
        }
    }

    // A natural end (--count, end of the capture): let the receiver take the
    // last bytes before the line hangs up.  A signal stops at once.
    if (!gStop) {
        if (hid)
            ::usleep(200 * 1000); // the reader takes the last reports from the kernel's queue
        else
            pty.WaitUntilTaken(1000);
    }

    if (!link.empty()) {
        char target[256];
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == pty.devicePath())
            unlink(link.c_str());
    }
    std::fprintf(stderr, "orvex-meter-sim: sent %lld %s\n", sent,
                 replay.empty() ? "packets" : "chunks");
    if (faults > 0)
        std::fprintf(stderr,
                     "orvex-meter-sim: faults dropped %llu, duplicated %llu, flipped %llu\n",
                     static_cast<unsigned long long>(injector.dropped),
                     static_cast<unsigned long long>(injector.duplicated),
                     static_cast<unsigned long long>(injector.flipped));
    return 0;
}
