#include "tools/orvex-log/HidReports.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace orvex {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

} // namespace

bool ParseHidReportLine(const std::string& line, HidReportLine* report, bool* skip,
                        std::string* error) {
    *skip = false;
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    if (i == line.size() || line[i] == '#') {
        *skip = true;
        return true;
    }
    std::vector<std::uint8_t> bytes;
    while (i < line.size()) {
        std::size_t end = i;
        while (end < line.size() && !IsBlank(line[end]))
            ++end;
        const std::string token = line.substr(i, end - i);
        const int hi = token.size() == 2 ? HexValue(token[0]) : -1;
        const int lo = token.size() == 2 ? HexValue(token[1]) : -1;
        if (hi < 0 || lo < 0) {
            *error = "'" + token + "' is not a byte (two hexadecimal digits)";
            return false;
        }
        if (bytes.size() > 65535) {
            *error = "a report holds at most 65535 data bytes";
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        i = end;
        while (i < line.size() && IsBlank(line[i]))
            ++i;
    }
    report->reportId = bytes[0];
    report->data.assign(bytes.begin() + 1, bytes.end());
    return true;
}

std::string FormatHidReportLine(std::uint8_t reportId, const std::uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string line;
    line.reserve(3 * (size + 1));
    auto add = [&](std::uint8_t b) {
        if (!line.empty()) line += ' ';
        line += digits[b >> 4];
        line += digits[b & 15];
    };
    add(reportId);
    for (std::size_t i = 0; i < size; ++i)
        add(data[i]);
    return line;
}

bool ReplayHidReportFile(const std::string& path,
                         const std::function<void(const HidReportLine&)>& onReport,
                         std::string* error, const std::function<bool()>& checked) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        *error = "cannot read '" + path + "': it is a directory";
        return false;
    }
    // Read once: a pipe (--hid-replay /dev/stdin) cannot be read a second time.
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open '" + path + "': " + std::strerror(errno);
        return false;
    }
    // Every line is checked before the first report goes out: a malformed file
    // gives no output.
    std::vector<HidReportLine> reports;
    long long number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        HidReportLine report;
        bool skip = false;
        std::string reason;
        if (!ParseHidReportLine(line, &report, &skip, &reason)) {
            *error = path + ":" + std::to_string(number) + ": " + reason;
            return false;
        }
        if (!skip) reports.push_back(std::move(report));
    }
    if (in.bad()) {
        *error = "cannot read '" + path + "'";
        return false;
    }
    if (checked && !checked()) {
        error->clear();
        return false;
    }
    for (const HidReportLine& report : reports)
        onReport(report);
    return true;
}

HidCaptureWriter::~HidCaptureWriter() {
    Close();
}

bool HidCaptureWriter::Open(const std::string& path, const std::string& headerComment,
                            std::string* error) {
    Close();
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        *error = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    failed_ = false;
    // A capture that cannot be written is told now, not when the run ends.
    if (std::fprintf(file_, "# %s\n# report ID, then the data bytes, in hexadecimal\n",
                     headerComment.c_str()) < 0 ||
        std::fflush(file_) != 0) {
        *error = "cannot write '" + path + "': " + std::strerror(errno);
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    return true;
}

void HidCaptureWriter::Write(std::uint8_t reportId, const std::uint8_t* data, std::size_t size) {
    if (!file_) return;
    const std::string line = FormatHidReportLine(reportId, data, size) + "\n";
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0)
        failed_ = true;
}

void HidCaptureWriter::Close() {
    if (!file_) return;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
}

} // namespace orvex
