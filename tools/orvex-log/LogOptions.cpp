#include "tools/orvex-log/LogOptions.h"

#include "protocol/MeterReading.h"
#include "recording/LimitJudge.h"
#include "recording/Sampling.h"

#include <QString>

namespace orvex {

LogOptionsResult ParseLogOptions(const std::vector<std::string>& args) {
    LogOptionsResult result;
    LogOptions& o = result.options;
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
    if (o.sample && !o.input.empty()) {
        result.error = "give either --input or --sample, not both";
    } else if (!o.sample && o.input.empty()) {
        result.error = "no input: give --input FILE, --input - or --sample";
    }
    return result;
}

std::string LogUsage() {
    return "Usage: orvex-log (--input FILE | --input - | --sample) [recording options]\n"
           "\n"
           "Reads raw meter bytes, rebuilds the packets and writes one JSON object per\n"
           "decoded frame to standard output, one per line.  The value text uses the\n"
           "decimal separator of the user's locale.  A frame that passes the frame\n"
           "check but cannot be decoded is reported on standard error as\n"
           "\"undecodable frame ...\"; frames that fail the check are skipped.\n"
           "\n"
           "Options:\n"
           "  --input FILE   read the bytes from FILE; \"-\" reads standard input\n"
           "  --sample       stream a short built-in sample of meter packets\n"
           "  --help         show this text\n"
           "\n"
           "Recording (as the window's controls; every JSON line then also carries\n"
           "\"verdict\", \"recorded\" and, for a recorded frame, its row number \"no\"):\n"
           "  --limit N      record at most N rows (default 10000; 10000000 is \"limitless\")\n"
           "  --no-repeat    do not record a reading equal to the last recorded one\n"
           "  --interval S   record at most one row every S seconds (\"Sampling Interval\")\n"
           "  --hi X         high judge limit (default 22000)\n"
           "  --lo Y         low judge limit (default -22000)\n"
           "\n"
           "Exit status: 0 at the end of the input, 1 when reading fails, 2 for a\n"
           "missing input file or a wrong command line.\n";
}

} // namespace orvex
