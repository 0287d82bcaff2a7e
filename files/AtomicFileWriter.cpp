#include "files/AtomicFileWriter.h"

#include "files/FileNames.h"

#include <QByteArray>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex {

namespace {

QString SystemError(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

mode_t CurrentUmask() {
    const mode_t old = ::umask(0);
    ::umask(old);
    return old;
}

// The folder part of a path ("." for a bare name) and the name after it; the
// path's characters are kept as they are (see FileNames.h), so no QFileInfo.
QString FolderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString NameOf(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// What a symbolic link points to, relative to the link's folder when it is a
// relative link; empty when `path` is no symbolic link.
QString SymLinkTarget(const QString& path) {
    const QByteArray native = EncodeFileName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return {};
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const ssize_t n = ::readlink(native.constData(), target.data(), std::size_t(target.size()));
    if (n <= 0 || n >= target.size()) return {};
    target.resize(n);
    const QString resolved = DecodeFileName(target);
    if (resolved.startsWith(QLatin1Char('/'))) return resolved;
    return FolderOf(path) + QLatin1Char('/') + resolved;
}

void SyncFolder(const QString& folder) {
    const QByteArray path = EncodeFileName(folder.isEmpty() ? QStringLiteral(".") : folder);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

} // namespace

AtomicFileWriter::AtomicFileWriter(const QString& target) : target_(target) {}

AtomicFileWriter::~AtomicFileWriter() {
    discard();
}

bool AtomicFileWriter::fail(const QString& what, int err) {
    failed_ = true;
    reason_ = err ? SystemError(err) : what;
    error_ = err ? what + QStringLiteral(": ") + reason_ : what;
    discard();
    return false;
}

bool AtomicFileWriter::open() {
    failed_ = false;
    error_.clear();
    reason_.clear();
    direct_ = inPlace_ = createdInPlace_ = truncated_ = false;
    if (target_.isEmpty()) return fail(QStringLiteral("No file name"), 0);

    finalPath_ = target_;
    const QString resolved = SymLinkTarget(target_);
    if (!resolved.isEmpty()) finalPath_ = resolved;

    const QByteArray finalName = EncodeFileName(finalPath_);
    struct stat st {};
    const bool exists = ::stat(finalName.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return fail(QStringLiteral("Is a folder"), EISDIR);

    if (exists && !S_ISREG(st.st_mode)) {
        // Devices and pipes: no rename possible (and replacing a device node with a
        // regular file would be wrong), so write straight into it.
        // Opened without waiting: a named pipe that nobody reads would hold the
        // window in open() for good (it fails with "No such device or address").
        direct_ = true;
        fd_ = ::open(finalName.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) return fail(QStringLiteral("Cannot open"), errno);
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags != -1) (void)::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
        return true;
    }

    const QString folder = FolderOf(finalPath_);
    QByteArray pattern = EncodeFileName(folder + QLatin1Char('/') + QLatin1Char('.') +
                                        NameOf(finalPath_) + QStringLiteral(".tmp-XXXXXX"));
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) {
        const int err = errno;
        // The folder refuses the temporary file; the target itself may still be
        // writable (a file of ours in somebody else's folder).
        const bool folderRefused = err == EACCES || err == EPERM || err == ENAMETOOLONG;
        if (folderRefused && openInPlace(finalName, exists)) return true;
        return fail(QStringLiteral("Cannot create file in %1").arg(folder), err);
    }
    tempPath_ = DecodeFileName(pattern);

    // Keep the mode (and, where allowed, the owner) of the file being replaced; a
    // new file gets the usual mode.
    const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
    (void)::fchmod(fd_, mode);
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()))
        (void)::fchown(fd_, st.st_uid, st.st_gid);
    return true;
}

// Writing in place is not atomic: the old content is gone once the first bytes are
// written, and a failure after that leaves the file damaged. It is the only way to
// save over a file that we may write but whose folder we may not, which is what
// the user asked for; everywhere else the temporary file and the rename are used.
bool AtomicFileWriter::openInPlace(const QByteArray& name, bool exists) {
    const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | (exists ? 0 : O_CREAT | O_EXCL);
    const int fd = ::open(name.constData(), flags, 0666);
    if (fd < 0) return false;
    fd_ = fd;
    inPlace_ = true;
    createdInPlace_ = !exists;
    truncated_ = false;
    return true;
}

bool AtomicFileWriter::write(const char* data, std::size_t size) {
    if (fd_ < 0 || failed_) return false;
    // The old content goes only now, so a save given up before its first write
    // leaves the file as it was.
    if (inPlace_ && !truncated_) {
        if (::ftruncate(fd_, 0) != 0) return fail(QStringLiteral("Write failed"), errno);
        truncated_ = true;
    }
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(QStringLiteral("Write failed"), errno);
        }
        if (n == 0) return fail(QStringLiteral("Write failed"), EIO);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFileWriter::commit() {
    if (fd_ < 0 || failed_) return false;
    if (inPlace_ && !truncated_) { // nothing was written: the file ends empty
        if (::ftruncate(fd_, 0) != 0) return fail(QStringLiteral("Write failed"), errno);
        truncated_ = true;
    }
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS)
        return fail(QStringLiteral("Flush failed"), errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        const int err = errno;
        fd_ = -1;
        return fail(QStringLiteral("Close failed"), err);
    }
    if (direct_) return true;
    if (inPlace_) {
        createdInPlace_ = false; // written: it stays
        return true;
    }

    const QByteArray from = EncodeFileName(tempPath_);
    const QByteArray to = EncodeFileName(finalPath_);
    if (::rename(from.constData(), to.constData()) != 0)
        return fail(QStringLiteral("Cannot replace %1").arg(finalPath_), errno);
    tempPath_.clear();
    SyncFolder(FolderOf(finalPath_));
    return true;
}

void AtomicFileWriter::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.isEmpty()) {
        ::unlink(EncodeFileName(tempPath_).constData());
        tempPath_.clear();
    }
    // A target this writer created in place is removed again; one that existed
    // keeps whatever it holds (all of its old content unless writing had begun).
    if (createdInPlace_) {
        ::unlink(EncodeFileName(finalPath_).constData());
        createdInPlace_ = false;
    }
}

} // namespace orvex
