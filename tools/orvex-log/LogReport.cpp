#include "tools/orvex-log/LogReport.h"

#include "files/FileNames.h"
#include "files/report/DataReport.h"
#include "recording/RecordTable.h"

#include <QGuiApplication>

namespace orvex {

std::unique_ptr<QCoreApplication> CreateLogApplication(int& argc, char** argv, bool withReport) {
    if (!withReport) return std::make_unique<QCoreApplication>(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}

std::string WriteLogReport(const RecordTable& table, const std::string& fileName) {
    if (table.rowCount() == 0)
        return "no report written to '" + fileName +
               "': the record table is empty, there is nothing to print";
    const FileResult r = SaveReportPdf(
        table, DecodeFileName(QByteArrayView(fileName.data(), qsizetype(fileName.size()))));
    if (r.ok()) return {};
    return "cannot write the report '" + fileName + "': " + r.reason.toStdString();
}

} // namespace orvex
