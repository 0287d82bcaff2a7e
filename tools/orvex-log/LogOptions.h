#pragma once
// Command line of orvex-log.  Later options (recording, port, output file) are
// added as fields here and as entries of the option loop in LogOptions.cpp.

#include <string>
#include <vector>

namespace orvex {

struct LogOptions {
    std::string input;   // a file name, or "-" for standard input
    bool sample = false; // stream the built-in sample packets instead of an input
    bool help = false;
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
