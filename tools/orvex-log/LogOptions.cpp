#include "tools/orvex-log/LogOptions.h"

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
    return "Usage: orvex-log --input FILE | --input - | --sample\n"
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
           "Exit status: 0 at the end of the input, 1 when reading fails, 2 for a\n"
           "missing input file or a wrong command line.\n";
}

} // namespace orvex
