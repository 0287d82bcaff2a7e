#include "tools/orvex-log/LogOptions.h"

#include "protocol/MeterReading.h"
#include "recording/LimitJudge.h"
#include "recording/Sampling.h"

#include <QString>

#include <cmath>

namespace orvex {

LogOptionsResult ParseLogOptions(const std::vector<std::string>& args) {
    LogOptionsResult result;
    LogOptions& o = result.options;
    bool comWithPath = false; // --comN PATH: one input with a port and a path
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // Options that take a value accept "--name VALUE" and "--name=VALUE".
        auto value = [&](const std::string& name, std::string& out) {
            if (arg == name) {
                if (i + 1 >= args.size()) {
                    result.error = "option " + name + " needs a value";
                    return true;
                }
                out = args[++i];
                return true;
            }
            if (arg.rfind(name + "=", 0) == 0) {
                out = arg.substr(name.size() + 1);
                return true;
            }
            return false;
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--sample") {
            o.sample = true;
        } else if (arg == "--usb") {
            o.usb = true;
        } else if (arg == "--list") {
            o.list = true;
        } else if (std::string* path = value("--hidraw", o.hidraw)            ? &o.hidraw
                                       : value("--hid-replay", o.hidReplay)   ? &o.hidReplay
                                       : value("--hid-capture", o.hidCapture) ? &o.hidCapture
                                                                              : nullptr) {
            if (!result.error.empty()) return result;
            if (path->empty()) {
                result.error = "option " + arg.substr(0, arg.find('=')) + " needs a path";
                return result;
            }
        } else if (arg == "--no-repeat") {
            o.repeat = false;
        } else if (std::string text; value("--limit", text) || value("--interval", text)) {
            if (!result.error.empty()) return result;
            const bool isLimit = arg.rfind("--limit", 0) == 0;
            const auto n = ParseWholeNumber(QString::fromStdString(text));
            if (!n || *n < 0 || (isLimit && *n > 10000000)) {
                result.error =
                    isLimit ? "--limit takes a whole number from 0 to 10000000, not '" + text + "'"
                            : "--interval takes a whole number of seconds, not '" + text + "'";
                return result;
            }
            (isLimit ? o.limit : o.interval) = *n;
        } else if (std::string text; value("--hi", text) || value("--lo", text)) {
            if (!result.error.empty()) return result;
            const bool isHi = arg.rfind("--hi", 0) == 0;
            if (!ParseLocaleNumber(QString::fromStdString(text), ReadDecimalSeparator())) {
                result.error = std::string(isHi ? "--hi" : "--lo") +
                               " takes a number in the locale's format, not '" + text + "'";
                return result;
            }
            (isHi ? o.hi : o.lo) = text;
        } else if (arg.size() >= 6 && arg.rfind("--com", 0) == 0 && arg[5] >= '1' &&
                   arg[5] <= '4' && (arg.size() == 6 || arg[6] == '=')) {
            // --com1 PATH .. --com4 PATH: the window's option, the port COMN at PATH.
            const std::string name = arg.substr(0, 6);
            std::string path;
            if (arg.size() == 6 && (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0)) {
                result.error = "option " + name +
                               " needs a path: the serial device of the port "
                               "COM" +
                               name.substr(5) + " (or use --com " + name.substr(5) + ")";
                return result;
            }
            value(name, path);
            if (path.empty()) {
                result.error = "option " + name + " needs a path";
                return result;
            }
            o.com = name[5] - '0';
            o.port = path;
            comWithPath = true;
        } else if (std::string text; value("--com", text)) {
            if (!result.error.empty()) return result;
            if (text.size() != 1 || text[0] < '1' || text[0] > '4') {
                result.error = "--com takes a port number from 1 to 4, not '" + text + "'";
                return result;
            }
            o.com = text[0] - '0';
        } else if (value("--out", o.out)) {
            if (!result.error.empty()) return result;
            if (o.out.empty()) {
                result.error = "option --out needs a file name";
                return result;
            }
        } else if (value("--report", o.report)) {
            if (!result.error.empty()) return result;
            if (o.report.empty()) {
                result.error = "option --report needs a file name";
                return result;
            }
        } else if (value("--port", o.port)) {
            if (!result.error.empty()) return result;
            if (o.port.empty()) {
                result.error = "option --port needs a serial device";
                return result;
            }
        } else if (std::string text; value("--frames", text)) {
            if (!result.error.empty()) return result;
            const auto n = ParseWholeNumber(QString::fromStdString(text));
            if (!n || *n < 1) {
                result.error = "--frames takes a whole number above 0, not '" + text + "'";
                return result;
            }
            o.frames = *n;
        } else if (std::string text; value("--seconds", text)) {
            if (!result.error.empty()) return result;
            bool ok = false;
            const double v = QString::fromStdString(text).toDouble(&ok);
            if (!ok || !std::isfinite(v) || !(v > 0) || v > kMaxLogSeconds) {
                result.error = "--seconds takes a number of seconds above 0 and at most " +
                               std::to_string(static_cast<long long>(kMaxLogSeconds)) +
                               " (100 years), not '" + text + "'";
                return result;
            }
            o.seconds = v;
        } else if (value("--input", o.input)) {
            if (!result.error.empty()) return result;
            if (o.input.empty()) {
                result.error = "option --input needs a file name (or - for standard input)";
                return result;
            }
        } else {
            result.error = "unknown option '" + arg + "'";
            return result;
        }
    }
    if (o.help) return result;
    // --comN PATH sets both the port and its path: one input.
    const int sources = int(o.sample) + int(!o.input.empty()) + int(!o.port.empty()) +
                        int(o.com != 0) - int(comWithPath) + int(o.usb) + int(!o.hidraw.empty()) +
                        int(!o.hidReplay.empty());
    const bool live = !o.port.empty() || o.com != 0 || o.usb || !o.hidraw.empty();
    if (o.list) {
        if (sources > 0) result.error = "--list takes no input";
    } else if (sources > 1) {
        result.error = "give one input: --input, --sample, --port, --com, --usb, --hidraw or "
                       "--hid-replay";
    } else if (sources == 0) {
        result.error = "no input: give --input FILE, --input -, --sample, --port PATH, --com N, "
                       "--usb, --hidraw PATH or --hid-replay FILE";
    } else if ((o.frames > 0 || o.seconds > 0) && !live) {
        result.error =
            "--frames and --seconds go with a live input (--port, --com, --usb or --hidraw)";
    }
    // A capture needs a cable to read from; --list reads none either.
    if (result.error.empty() && !o.hidCapture.empty() && !o.usb && o.hidraw.empty())
        result.error = "--hid-capture goes with --usb or --hidraw";
    return result;
}

std::string LogUsage() {
    return "Usage: orvex-log (--input FILE | --input - | --sample | --port PATH | --com N |\n"
           "                  --usb | --hidraw PATH | --hid-replay FILE)\n"
           "                 [--frames N] [--seconds S] [--hid-capture FILE] [recording options]\n"
           "       orvex-log --list\n"
           "\n"
           "Reads raw meter bytes, rebuilds the packets and writes one JSON object per\n"
           "decoded frame to standard output, one per line.  The value text uses the\n"
           "decimal separator of the user's locale; \"time\" (ISO 8601 with the UTC\n"
           "offset), \"unit_text\" (a readable unit), \"base_value\" and \"base_unit\"\n"
           "(the reading in the base unit; null for an overload) close every object.\n"
           "A frame that passes the frame check but cannot be decoded is reported on\n"
           "standard error as \"undecodable frame ...\"; frames that fail the check\n"
           "are skipped.\n"
           "\n"
           "Options:\n"
           "  --input FILE   read the bytes from FILE; \"-\" reads standard input\n"
           "  --sample       stream a short built-in sample of meter packets\n"
           "  --port PATH    read a live serial line (19200 bit/s, 7 data bits, odd\n"
           "                 parity) until SIGINT/SIGTERM/SIGHUP, --frames or --seconds\n"
           "  --com N        the same for the port \"COMN\" of the window (N = 1..4):\n"
           "                 /dev/ttyUSB<N-1> when it exists, else /dev/ttyS<N-1>\n"
           "  --comN PATH    the same for the port \"COMN\" at the device PATH, as the\n"
           "                 window's option of that name\n"
           "  --usb          read the meter through its USB adapter cable: the first\n"
           "                 HID device named \"USB to Serial\" (the user needs read and\n"
           "                 write access to its /dev/hidraw node: see the README)\n"
           "  --hidraw PATH  the same through the HID device PATH (/dev/hidrawN)\n"
           "  --hid-capture FILE\n"
           "                 with --usb or --hidraw: also write every input report\n"
           "                 received to FILE, one a line (report ID, then the data\n"
           "                 bytes, two hexadecimal digits each)\n"
           "  --hid-replay FILE\n"
           "                 run reports recorded that way through the cable link;\n"
           "                 blank lines and lines starting with # are ignored, a\n"
           "                 malformed line ends the run (status 2, naming its line)\n"
           "  --list         list what can be connected: COM1..COM4 and their\n"
           "                 devices, the other serial devices and every HID device,\n"
           "                 each with whether it can be opened\n"
           "  --frames N     with a live input: stop after N decoded frames\n"
           "  --seconds S    with a live input: stop after S seconds (a decimal number\n"
           "                 above 0, up to 100 years)\n"
           "  --out FILE     write the record table to FILE: a name ending in \".xml\"\n"
           "                 gets the XML data packet when the run ends (written to a\n"
           "                 temporary file and renamed over FILE); a name ending in\n"
           "                 \".csv\" gets comma-separated values for spreadsheets\n"
           "                 (dated timestamps, readable units, base values); any\n"
           "                 other name gets the tab-separated text; both header\n"
           "                 first, each row appended and flushed as it is recorded\n"
           "  --report FILE  write the printed report of the record table to FILE as\n"
           "                 PDF (A4) when the run ends, atomically like the XML; with\n"
           "                 an empty table (or a failed write) no file is written and\n"
           "                 the exit status is 1\n"
           "  --help         show this text\n"
           "\n"
           "Recording (as the window's controls; every JSON line then also carries\n"
           "\"verdict\", \"recorded\" and, for a recorded frame, its row number \"no\"):\n"
           "  --limit N      record at most N rows (default 10000000, the window's\n"
           "                 \"limitless\"); reaching it is told once on standard error\n"
           "  --no-repeat    do not record a reading equal to the last recorded one\n"
           "  --interval S   record at most one row every S seconds (\"Sampling Interval\")\n"
           "  --hi X         high judge limit (default 22000)\n"
           "  --lo Y         low judge limit (default -22000)\n"
           "\n"
           "A live serial run says on standard error what it reads and when no packet\n"
           "has come for 10 seconds; an input without any meter packet is reported.\n"
           "\n"
           "Exit status: 0 at the end of the input (or of the live run), 1 when\n"
           "reading fails or the line is lost, 2 for a missing input file, a port\n"
           "that cannot be opened (the reason and the fix are given), an --out or\n"
           "--report file that cannot be written (tried before the run) or a wrong\n"
           "command line.\n";
}

} // namespace orvex
