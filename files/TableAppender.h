#pragma once
// A table file written as the table grows, shared by the text and CSV loggers'
// appenders: the header when opened, then one line per row, each handed to the
// system at once, so a logger that is killed loses nothing already recorded. A
// write that fails part-way (a full disk) cuts the file back to its last complete
// row before the failure is reported.

#include "recording/RecordTable.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <vector>

namespace orvex {

class TableAppender : public QObject {
    Q_OBJECT
  public:
    ~TableAppender() override;

    // Creates or truncates the file and writes the header line.
    bool open(const QString& fileName);
    bool isOpen() const { return fd_ >= 0; }
    // Appends the lines of rows first..last of the table.
    bool appendRows(const RecordTable& table, int first, int last);
    // Appends every row the table gains from now on (its rowsAppended signal).
    void follow(const RecordTable& table);
    void close();

    bool failed() const { return failed_; }
    QString errorString() const { return error_; }
    // The system's reason alone ("No such file or directory"), without the file name.
    QString reason() const { return reason_; }

  signals:
    // Emitted once, on the first write that fails.
    void writeFailed(const QString& reason);

  protected:
    // Appends the line of one row (line end included) to `out`.
    using RowWriter = std::function<void(QByteArray& out, const RecordTable& table, int row)>;

    // `header` is the format's header line with its line end.
    TableAppender(QByteArray header, RowWriter writeRow, QObject* parent);

  private:
    bool writeAll(const QByteArray& bytes, const std::vector<qsizetype>& rowEnds);
    bool fail(int err);

    QByteArray header_;
    RowWriter writeRow_;
    int fd_ = -1;
    qint64 size_ = 0; // the file's size: its last complete row ends here
    bool failed_ = false;
    QString error_;
    QString reason_;
    QString fileName_;
    QMetaObject::Connection connection_;
};

} // namespace orvex
