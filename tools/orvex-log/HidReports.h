#pragma once
// The text form of the USB adapter cable's input reports, as --hid-capture
// writes them and --hid-replay reads them: one report a line, the report ID
// and then the data bytes, each as two hexadecimal digits, separated by
// blanks.  A line may hold the report ID alone (a report without data bytes).
// Blank lines and lines starting with "#" are ignored.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace orvex {

struct HidReportLine {
    std::uint8_t reportId = 0;
    std::vector<std::uint8_t> data;
};

// Parses one line: true with `report` filled, false with `error` set for a
// malformed line; `skip` is set for a blank or comment line.
bool ParseHidReportLine(const std::string& line, HidReportLine* report, bool* skip,
                        std::string* error);

// "00 F2 B1 B2" (upper-case digits, no trailing blank).
std::string FormatHidReportLine(std::uint8_t reportId, const std::uint8_t* data, std::size_t size);

// Reads the whole file once (a pipe too) and checks every line (so that a
// malformed file gives no output); then `checked` runs and each report goes to
// `onReport` in order. False with `error` ("FILE:LINE:
// reason" or the reason the file cannot be read), or with `error` empty when
// `checked` returned false.
bool ReplayHidReportFile(const std::string& path,
                         const std::function<void(const HidReportLine&)>& onReport,
                         std::string* error, const std::function<bool()>& checked = {});

// Writes received reports to a capture file, one line each, flushed per line.
class HidCaptureWriter {
  public:
    HidCaptureWriter() = default;
    ~HidCaptureWriter();
    HidCaptureWriter(const HidCaptureWriter&) = delete;
    HidCaptureWriter& operator=(const HidCaptureWriter&) = delete;

    // Creates (or replaces) the file and writes the comment lines of its header.
    bool Open(const std::string& path, const std::string& headerComment, std::string* error);
    void Write(std::uint8_t reportId, const std::uint8_t* data, std::size_t size);
    bool failed() const { return failed_; }
    bool isOpen() const { return file_ != nullptr; }
    void Close();

  private:
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

} // namespace orvex
