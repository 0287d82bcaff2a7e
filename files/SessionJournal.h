#pragma once
// The session journal: every row the window records is also written, in the
// tab-separated text format of the table files, to a journal file of its own,
// so that a crash or a power cut loses nothing that no saved file holds.
//
// - Where: $XDG_STATE_HOME/orvex-interface/ (by default ~/.local/state/...),
//   one file per running window, "journal-<pid>-<yyyyMMdd-HHmmss>[-n].txt".
// - How: AppendRow() makes the row's text line on the calling (user-interface)
//   thread, which takes constant time, and hands it to a writer thread; the
//   writer hands what it has to the system at least every half second and syncs
//   the file to the disk at least every 30 seconds.  The user-interface thread
//   never waits on the disk (Flush(), for start-up and tests, does).
// - What: what no saved file holds.  Restart() begins it afresh (after a
//   successful save, with the rows recorded while the save ran; after "New",
//   empty); Remove() deletes it when the program ends normally.
// - Liveness: the window holds an exclusive flock() on its journal for as long
//   as it runs.  A journal whose lock can be taken belongs to a window that no
//   longer runs: TStaleJournal finds those and offers them back.
// - Failures: a journal that cannot be created or written (disk full, read-only
//   home) emits writeFailed() once per failure; recording goes on.  A write
//   that fails part-way cuts the file back to its last whole line.  A later
//   Restart() tries the file again; one that writes it whole ends the failure.

#include "recording/RecordTable.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace orvex {

class TSessionJournal : public QObject {
    Q_OBJECT
  public:
    // $XDG_STATE_HOME/orvex-interface, or ~/.local/state/orvex-interface when
    // XDG_STATE_HOME is unset or not an absolute path.
    static QString DefaultFolder();

    explicit TSessionJournal(QString folder = DefaultFolder(), QObject* parent = nullptr);
    // Stops the writer after it has written what it was given; the file stays
    // (Remove() deletes it).
    ~TSessionJournal() override;

    // Creates the folder and this window's journal with its header line, and
    // starts the writer.  False (and writeFailed) when that fails.
    bool Start(const QDateTime& started = QDateTime::currentDateTime());
    bool isStarted() const;
    QString folder() const { return folder_; }
    QString filePath() const { return path_; }

    // Row `row` of `table` was recorded.
    void AppendRow(const RecordTable& table, int row);
    // The journal begins afresh with the rows firstRow.. of `table`.
    void Restart(const RecordTable& table, int firstRow);
    // Waits until everything handed over is written and synced; false when the
    // journal is not being written.
    bool Flush();
    // The program ends normally: stops the writer and deletes the file.
    void Remove();

    bool failed() const;
    QString errorString() const;

  signals:
    // The journal cannot be written: the message for the user, once for each
    // failure (a fresh start written whole ends one).
    void writeFailed(const QString& message);

  private:
    struct Writer;
    // `episode` counts the writer's fresh starts written whole (0: no writer).
    void ReportFailure(const QString& reason, quint64 episode = 0);

    QString folder_;
    QString path_;
    std::unique_ptr<Writer> writer_;
    std::optional<quint64> reportedEpisode_; // of the failure last told
};

// A journal left by a window that no longer runs.  While the object lives it
// holds the journal's lock, so no other window offers it at the same time.
class TStaleJournal {
  public:
    // The journals in `folder` whose lock is free, oldest first.
    static std::vector<TStaleJournal> Find(const QString& folder);

    TStaleJournal(TStaleJournal&& other) noexcept;
    TStaleJournal& operator=(TStaleJournal&& other) noexcept;
    ~TStaleJournal();

    QString path() const { return path_; }
    qint64 pid() const { return pid_; }
    QDateTime started() const { return started_; }
    int rows() const { return rows_; }
    QString firstTime() const { return firstTime_; }
    QString lastTime() const { return lastTime_; }

    // The question that offers the rows back ("Yes" loads them, "No" discards them,
    // "Cancel" keeps them for the next start).
    QString OfferText() const;
    // Deletes the journal.
    bool Discard();
    // Keeps the journal under another name (.damaged), so it is not offered again.
    bool SetAside(QString* newPath = nullptr);

  private:
    TStaleJournal() = default;
    void Release();

    QString path_;
    int fd_ = -1;
    qint64 pid_ = 0;
    QDateTime started_;
    int rows_ = 0;
    QString firstTime_, lastTime_;
};

// The message shown each time the journal fails to be written.
QString JournalFailedMessage(const QString& reason);

} // namespace orvex
