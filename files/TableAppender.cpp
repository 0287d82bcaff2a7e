#include "files/TableAppender.h"

#include "files/FileNames.h"
#include "files/TableFilesCommon.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace orvex {

TableAppender::TableAppender(QByteArray header, RowWriter writeRow, QObject* parent)
    : QObject(parent), header_(std::move(header)), writeRow_(std::move(writeRow)) {}

TableAppender::~TableAppender() {
    close();
}

bool TableAppender::open(const QString& fileName) {
    close();
    failed_ = false;
    error_.clear();
    reason_.clear();
    fileName_ = fileName;
    // Every write goes to the system at once.
    fd_ = ::open(EncodeFileName(fileName).constData(),
                 O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ < 0) return fail(errno);
    size_ = 0;
    return writeAll(header_, {header_.size()});
}

bool TableAppender::appendRows(const RecordTable& table, int first, int last) {
    if (fd_ < 0 || failed_) return false;
    QByteArray lines;
    std::vector<qsizetype> rowEnds;
    for (int row = std::max(first, 0); row <= last && row < table.rowCount(); ++row) {
        writeRow_(lines, table, row);
        rowEnds.push_back(lines.size());
    }
    return writeAll(lines, rowEnds);
}

void TableAppender::follow(const RecordTable& table) {
    QObject::disconnect(connection_);
    connection_ = connect(&table, &RecordTable::rowsAppended, this,
                          [this, &table](int first, int last) { appendRows(table, first, last); });
}

void TableAppender::close() {
    QObject::disconnect(connection_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool TableAppender::writeAll(const QByteArray& bytes, const std::vector<qsizetype>& rowEnds) {
    const int err = detail::AppendRowsToFile(fd_, bytes, rowEnds, size_);
    return err == 0 || fail(err);
}

bool TableAppender::fail(int err) {
    failed_ = true;
    reason_ = QString::fromLocal8Bit(strerror(err));
    error_ = QStringLiteral("%1: %2").arg(fileName_, reason_);
    emit writeFailed(error_);
    return false;
}

} // namespace orvex
