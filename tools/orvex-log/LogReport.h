#pragma once
// --report: the printed report of the logger's record table, written as a PDF
// file when the run ends.

#include <QCoreApplication>

#include <memory>
#include <string>

namespace orvex {

class RecordTable;

// The logger's application object. The report needs fonts, which only a GUI
// application has; it then runs on the offscreen platform (unless
// QT_QPA_PLATFORM says otherwise), so no display is needed.
std::unique_ptr<QCoreApplication> CreateLogApplication(int& argc, char** argv, bool withReport);

// Writes the report of every row of the table to `fileName`, atomically. Returns
// an empty string on success, else the message for standard error (no file is
// written for an empty table).
std::string WriteLogReport(const RecordTable& table, const std::string& fileName);

} // namespace orvex
