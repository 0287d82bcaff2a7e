// orvex-log's command line on any arguments: the input is split into arguments
// at every NUL byte.
//
// Checked: a command line that is accepted names exactly one input and holds
// only values the logger can use; a refused one says why.

#include "fuzz/FuzzSupport.h"
#include "tools/orvex-log/LogOptions.h"
#include "tools/orvex-log/RunDeadline.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty() || size == 0) args.push_back(current);

    std::string line;
    for (const std::string& a : args)
        line += "[" + a + "] ";

    const LogOptionsResult parsed = ParseLogOptions(args);
    if (!parsed.error.empty()) return 0;
    const LogOptions& o = parsed.options;
    if (o.help) return 0;

    // --comN PATH is one input that sets both the port number and its path.
    const int sources = int(o.sample) + int(!o.input.empty()) + int(!o.port.empty()) +
                        int(o.com != 0 && o.port.empty()) + int(o.usb) + int(!o.hidraw.empty()) +
                        int(!o.hidReplay.empty());
    FUZZ_CHECK(o.list ? sources == 0 : sources == 1, line);
    FUZZ_CHECK(o.hidCapture.empty() || o.usb || !o.hidraw.empty(), line);
    FUZZ_CHECK(o.com >= 0 && o.com <= 4, line);
    FUZZ_CHECK(o.limit >= 0 && o.limit <= 10000000, line);
    FUZZ_CHECK(o.interval >= -1, line);
    FUZZ_CHECK(o.frames == -1 || o.frames >= 1, line);
    FUZZ_CHECK(o.seconds == -1 ||
                   (std::isfinite(o.seconds) && o.seconds > 0 && o.seconds <= kMaxLogSeconds),
               line);
    if (o.seconds > 0) {
        // The deadline of the run, however long, in milliseconds a timer can wait out.
        const qint64 ms = TRunDeadline::Milliseconds(o.seconds);
        FUZZ_CHECK(ms >= 1 && TRunDeadline::StepMs(ms) >= 1 &&
                       TRunDeadline::StepMs(ms) <= TRunDeadline::kMaxStepMs,
                   line);
    }
    const bool live = !o.port.empty() || o.com != 0 || o.usb || !o.hidraw.empty();
    FUZZ_CHECK(live || o.list || (o.frames == -1 && o.seconds == -1), line);
    return 0;
}
