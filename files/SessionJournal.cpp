#include "files/SessionJournal.h"

#include "files/TableFiles.h"
#include "files/TableFilesCommon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace orvex {

namespace {

using Clock = std::chrono::steady_clock;
// What has been handed over reaches the system within this period...
constexpr auto kWritePeriod = std::chrono::milliseconds(500);
// ...and the disk within this one.
constexpr auto kSyncPeriod = std::chrono::seconds(30);
// The writer is woken early when this much is waiting, so that a burst of rows
// (a load journalled, a fast meter) never makes the buffer of waiting lines grow
// so large that enlarging it holds up the user-interface thread.
constexpr qsizetype kWakeBytes = 256 * 1024;

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

const QRegularExpression& JournalName() {
    static const QRegularExpression re(
        QStringLiteral(R"(^journal-(\d+)-(\d{8}-\d{6})(?:-\d+)?\.txt$)"));
    return re;
}

// The second item of a text line (the time of day).
QString TimeItem(const QByteArray& line) {
    const QList<QByteArray> items = line.split('\t');
    if (items.size() < 2) return {};
    return QString::fromLatin1(items[1]).trimmed().remove(u'"');
}

} // namespace

// ------------------------------------------------------------------ the writer

struct TSessionJournal::Writer {
    int fd = -1;
    std::thread thread;
    std::mutex m;
    std::condition_variable wake;
    std::condition_variable done;
    QByteArray pending;      // lines handed over, not yet written
    QByteArray restartBytes; // the whole new content after a Restart()
    // The offsets just after each line in pending and in restartBytes: a write
    // that fails part-way leaves the file cut back to its last whole line.
    std::vector<qsizetype> pendingEnds;
    std::vector<qsizetype> restartEnds;
    bool restart = false;
    bool stop = false;
    bool discard = false; // stopping for a journal that is being deleted
    quint64 flushRequests = 0;
    quint64 flushesDone = 0;
    std::atomic<bool> failed{false};
    QString error; // guarded by m
    // Counts the fresh starts written whole: a failure after one is a new one.
    quint64 episode = 1;                             // guarded by m
    std::function<void(QString, quint64)> onFailure; // called on the writer thread

    void Run() {
        auto lastSync = Clock::now();
        qint64 size = 0; // of the file, up to its last whole line
        bool unsynced = false;
        bool broken = false; // the file is not being written until the next restart
        std::unique_lock lock(m);
        for (;;) {
            wake.wait_for(lock, kWritePeriod, [&] {
                return stop || flushRequests != flushesDone || pending.size() >= kWakeBytes;
            });
            // A journal about to be deleted is neither written nor synced: its
            // rows are safe elsewhere, and a sync can take long on a slow disk.
            if (stop && discard) return;
            const bool doRestart = std::exchange(restart, false);
            QByteArray head = std::exchange(restartBytes, QByteArray());
            QByteArray body = std::exchange(pending, QByteArray());
            const std::vector<qsizetype> headEnds = std::exchange(restartEnds, {});
            const std::vector<qsizetype> bodyEnds = std::exchange(pendingEnds, {});
            const quint64 flushTarget = flushRequests;
            const bool stopping = stop;
            lock.unlock();

            int err = 0;
            bool freshStart = false; // a restart written whole: a failure after it is new
            if (doRestart) {
                broken = false;
                size = 0;
                if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
                    err = errno;
                else
                    err = detail::AppendRowsToFile(fd, head, headEnds, size);
                freshStart = !err;
                unsynced = true;
            }
            if (!err && !broken && !body.isEmpty()) {
                err = detail::AppendRowsToFile(fd, body, bodyEnds, size);
                unsynced = true;
            }
            const bool syncDue =
                flushTarget != flushesDone || stopping || Clock::now() - lastSync >= kSyncPeriod;
            if (!err && !broken && unsynced && syncDue) {
                if (::fdatasync(fd) != 0) err = errno;
                lastSync = Clock::now();
                unsynced = false;
            }
            if (err) broken = true;

            lock.lock();
            if (freshStart) ++episode;
            if (err) {
                failed = true;
                error = SystemError(err);
                if (onFailure) onFailure(error, episode);
            } else if (doRestart) {
                failed = false;
            }
            flushesDone = flushTarget;
            done.notify_all();
            if (stopping) return;
        }
    }

    void Stop(bool discarding = false) {
        {
            const std::lock_guard lock(m);
            stop = true;
            discard = discarding;
        }
        wake.notify_all();
        if (thread.joinable()) thread.join();
    }
};

// ------------------------------------------------------------------ TSessionJournal

QString TSessionJournal::DefaultFolder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(state + QStringLiteral("/orvex-interface"));
}

TSessionJournal::TSessionJournal(QString folder, QObject* parent)
    : QObject(parent), folder_(std::move(folder)) {}

TSessionJournal::~TSessionJournal() {
    if (!writer_) return;
    writer_->Stop();
    ::close(writer_->fd);
}

bool TSessionJournal::isStarted() const {
    return writer_ != nullptr;
}

bool TSessionJournal::Start(const QDateTime& started) {
    if (writer_) return true;
    if (!QDir().mkpath(folder_)) {
        ReportFailure(QStringLiteral("the folder %1 cannot be created").arg(folder_));
        return false;
    }
    // The journal is locked under a name no window looks for, then renamed: a
    // window starting at the same moment never takes it for a stale one.
    const QString stem = QStringLiteral("journal-%1-%2")
                             .arg(QCoreApplication::applicationPid())
                             .arg(started.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString hidden = QDir(folder_).filePath(QStringLiteral(".%1.new").arg(stem));
    const QByteArray hiddenName = QFile::encodeName(hidden);
    ::unlink(hiddenName.constData());
    const int fd = ::open(hiddenName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        ReportFailure(QStringLiteral("%1: %2").arg(hidden, SystemError(errno)));
        return false;
    }
    (void)::flock(fd, LOCK_EX | LOCK_NB);
    QString path;
    for (int n = 0;; ++n) {
        path = QDir(folder_).filePath(n == 0 ? stem + QStringLiteral(".txt")
                                             : QStringLiteral("%1-%2.txt").arg(stem).arg(n));
        const QByteArray name = QFile::encodeName(path);
        // link() refuses an existing name, so no other journal is replaced.
        if (::link(hiddenName.constData(), name.constData()) == 0) break;
        if (errno != EEXIST || n > 1000) {
            const int error = errno;
            ::unlink(hiddenName.constData());
            ::close(fd);
            ReportFailure(QStringLiteral("%1: %2").arg(path, SystemError(error)));
            return false;
        }
    }
    ::unlink(hiddenName.constData());
    path_ = path;

    writer_ = std::make_unique<Writer>();
    writer_->fd = fd;
    reportedEpisode_.reset(); // a failure of this new file is told
    writer_->pending = TextHeaderLine();
    writer_->pendingEnds = {writer_->pending.size()};
    writer_->onFailure = [this](const QString& reason, quint64 episode) {
        QMetaObject::invokeMethod(
            this,
            [this, reason, episode] {
                ReportFailure(QStringLiteral("%1: %2").arg(path_, reason), episode);
            },
            Qt::QueuedConnection);
    };
    writer_->thread = std::thread([w = writer_.get()] { w->Run(); });
    return true;
}

void TSessionJournal::AppendRow(const RecordTable& table, int row) {
    if (!writer_ || row < 0 || row >= table.rowCount()) return;
    QByteArray line;
    AppendTextLine(line, table, row);
    bool wake = false;
    {
        const std::lock_guard lock(writer_->m);
        writer_->pending.append(line);
        writer_->pendingEnds.push_back(writer_->pending.size());
        wake = writer_->pending.size() >= kWakeBytes;
    }
    if (wake) writer_->wake.notify_one();
}

void TSessionJournal::Restart(const RecordTable& table, int firstRow) {
    if (!writer_ && !Start()) return;
    QByteArray bytes = TextHeaderLine();
    std::vector<qsizetype> ends{bytes.size()};
    for (int row = std::max(firstRow, 0); row < table.rowCount(); ++row) {
        AppendTextLine(bytes, table, row);
        ends.push_back(bytes.size());
    }
    {
        const std::lock_guard lock(writer_->m);
        writer_->restart = true;
        writer_->restartBytes = std::move(bytes);
        writer_->restartEnds = std::move(ends);
        writer_->pending.clear();
        writer_->pendingEnds.clear();
    }
    writer_->wake.notify_all();
}

bool TSessionJournal::Flush() {
    if (!writer_) return false;
    std::unique_lock lock(writer_->m);
    const quint64 target = ++writer_->flushRequests;
    writer_->wake.notify_all();
    writer_->done.wait(lock, [&] { return writer_->flushesDone >= target; });
    return !writer_->failed;
}

void TSessionJournal::Remove() {
    if (!writer_) return;
    writer_->Stop(true);
    ::unlink(QFile::encodeName(path_).constData());
    ::close(writer_->fd);
    writer_.reset();
}

bool TSessionJournal::failed() const {
    return !writer_ || writer_->failed;
}

QString TSessionJournal::errorString() const {
    if (!writer_) return {};
    const std::lock_guard lock(writer_->m);
    return writer_->error;
}

void TSessionJournal::ReportFailure(const QString& reason, quint64 episode) {
    // Once per failure: a journal that failed, was then written whole again on a
    // fresh start and fails once more is told of again.
    if (reportedEpisode_ && *reportedEpisode_ >= episode) return;
    reportedEpisode_ = episode;
    emit writeFailed(JournalFailedMessage(reason));
}

QString JournalFailedMessage(const QString& reason) {
    return QStringLiteral(
               "The session journal cannot be written (%1).\n\nRecording goes on, but the rows "
               "recorded are now kept only in memory until you save them: a crash or a power "
               "failure would lose them. Save the table now and then.")
        .arg(reason);
}

// ------------------------------------------------------------------ TStaleJournal

std::vector<TStaleJournal> TStaleJournal::Find(const QString& folder) {
    std::vector<TStaleJournal> found;
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral("journal-*.txt")}, QDir::Files);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = JournalName().match(name);
        if (!match.hasMatch()) continue;
        const QString path = dir.filePath(name);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        // A running window holds its journal's lock.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        // Taken and deleted by another window meanwhile: not to be offered again.
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_nlink == 0) {
            ::close(fd);
            continue;
        }
        TStaleJournal j;
        j.path_ = path;
        j.fd_ = fd;
        j.pid_ = match.captured(1).toLongLong();
        j.started_ = QDateTime::fromString(match.captured(2), QStringLiteral("yyyyMMdd-HHmmss"));

        // Count the rows (every line after the header) and keep the first and the last.
        QByteArray chunk(1 << 20, Qt::Uninitialized);
        QByteArray line, firstRow, lastRow;
        int lines = 0;
        for (;;) {
            const ssize_t n = ::read(fd, chunk.data(), static_cast<std::size_t>(chunk.size()));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            const char* p = chunk.constData();
            const char* end = p + n;
            while (p < end) {
                const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
                const char* stop = nl ? nl : end;
                if (line.size() < 4096) line.append(p, std::min<qsizetype>(stop - p, 4096));
                p = stop;
                if (!nl) break;
                ++p;
                if (lines++ > 0 && !line.trimmed().isEmpty()) {
                    ++j.rows_;
                    if (firstRow.isEmpty()) firstRow = line;
                    lastRow = line;
                }
                line.clear();
            }
        }
        if (lines > 0 && !line.trimmed().isEmpty()) { // a last line without its end
            ++j.rows_;
            if (firstRow.isEmpty()) firstRow = line;
            lastRow = line;
        }
        j.firstTime_ = TimeItem(firstRow.trimmed());
        j.lastTime_ = TimeItem(lastRow.trimmed());
        found.push_back(std::move(j));
    }
    std::sort(found.begin(), found.end(), [](const TStaleJournal& a, const TStaleJournal& b) {
        return a.started_ < b.started_;
    });
    return found;
}

TStaleJournal::TStaleJournal(TStaleJournal&& other) noexcept {
    *this = std::move(other);
}

TStaleJournal& TStaleJournal::operator=(TStaleJournal&& other) noexcept {
    if (this != &other) {
        Release();
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        pid_ = other.pid_;
        started_ = other.started_;
        rows_ = other.rows_;
        firstTime_ = std::move(other.firstTime_);
        lastTime_ = std::move(other.lastTime_);
    }
    return *this;
}

TStaleJournal::~TStaleJournal() {
    Release();
}

void TStaleJournal::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

QString TStaleJournal::OfferText() const {
    QString when;
    if (!firstTime_.isEmpty() && !lastTime_.isEmpty())
        when = QStringLiteral(", recorded from %1 to %2").arg(firstTime_, lastTime_);
    QString session;
    if (started_.isValid())
        session = QStringLiteral(" (started %1, process %2)")
                      .arg(started_.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                      .arg(pid_);
    return QStringLiteral("A session of this program that did not end normally%1 left %2 "
                          "recorded %3 that no saved file holds%4.\n\nLoad them into the record "
                          "table?\n\"Yes\" loads them; \"No\" discards them; "
                          "\"Cancel\" keeps them to be offered again at the next start.")
        .arg(session)
        .arg(rows_)
        .arg(rows_ == 1 ? QStringLiteral("row") : QStringLiteral("rows"))
        .arg(when);
}

bool TStaleJournal::Discard() {
    const bool ok = ::unlink(QFile::encodeName(path_).constData()) == 0;
    Release();
    return ok;
}

bool TStaleJournal::SetAside(QString* newPath) {
    const QString target = path_ + QStringLiteral(".damaged");
    const bool ok =
        ::rename(QFile::encodeName(path_).constData(), QFile::encodeName(target).constData()) == 0;
    if (ok && newPath) *newPath = target;
    Release();
    return ok;
}

} // namespace orvex
