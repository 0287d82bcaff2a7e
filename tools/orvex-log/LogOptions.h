#pragma once
// Command line of orvex-log.  Later options (recording, port, output file) are
// added as fields here and as entries of the option loop in LogOptions.cpp.

#include <string>
#include <vector>

namespace orvex {

// The longest run --seconds accepts: 100 years.
inline constexpr double kMaxLogSeconds = 100.0 * 365.25 * 24 * 3600;

struct LogOptions {
    std::string input;   // a file name, or "-" for standard input
    bool sample = false; // stream the built-in sample packets instead of an input
    bool help = false;
    std::string port;      // a serial device to read live
    int com = 0;           // 1..4: the port "COMN" with the window's device mapping
                           // (--com N), or mapped to `port` (--comN PATH, as the window)
    long long frames = -1; // stop after this many decoded frames (live input)
    double seconds = -1;   // stop after this many seconds (live input)
    std::string out;       // the record table file: ".xml" at the end, else text as it grows
    std::string report;    // the printed report as a PDF file, written at the end

    // The USB adapter cable.
    bool usb = false;       // read the first cable ("USB to Serial")
    std::string hidraw;     // read this hidraw node through the cable link
    std::string hidReplay;  // replay recorded input reports of the cable
    std::string hidCapture; // with usb / hidraw: write the reports received here
    bool list = false;      // list what can be connected and end

    // Recording, as the window's controls set it.
    int limit = 10000000;     // record limit (rows after each clearing): none ("limitless")
    bool repeat = true;       // "Repeat": record a reading equal to the last one
    int interval = -1;        // "Sampling Interval" in seconds; -1 when not checked
    std::string hi = "22000"; // judge limits, in the user's number format
    std::string lo = "-22000";
};

struct LogOptionsResult {
    LogOptions options;
    std::string error; // empty when the command line is usable
};

// Parses the arguments after the program name.
LogOptionsResult ParseLogOptions(const std::vector<std::string>& args);

// The text of --help.
std::string LogUsage();

} // namespace orvex
