#pragma once
// Replaces a file all at once: the bytes go to a temporary file in the target's
// folder, which is flushed to the disk and then renamed over the target. Until
// commit() succeeds the previous file stays exactly as it was; a writer that is
// discarded (or destroyed) without commit removes its temporary file.
//
// A target that exists and is not a regular file (a device such as /dev/full, a
// pipe) cannot be replaced by a rename; it is written directly instead.
// A symbolic link is followed, so the link stays and its target is replaced.
//
// When no temporary file may be created beside the target (a folder the user may
// not write to, an immutable folder, a name too long for the temporary's suffix)
// but the target itself can be written, the target is written in place. That is
// not atomic: a failure half-way leaves it damaged. It is truncated only when the
// first bytes go out, so a save given up before then leaves it as it was.

#include <QString>

#include <cstddef>

namespace orvex {

class AtomicFileWriter {
  public:
    explicit AtomicFileWriter(const QString& target);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool open();
    bool write(const char* data, std::size_t size);
    // Flushes, syncs and renames over the target. After a failure the target is
    // untouched (except for direct writes) and the temporary file is gone.
    bool commit();
    void discard();

    // What failed, with its context ("Cannot create file in /d: Permission denied").
    QString errorString() const { return error_; }
    // The system's reason alone ("Permission denied"); the same as errorString()
    // for a failure that did not come from the system.
    QString systemReason() const { return reason_; }
    // True when the target is being written in place (see above).
    bool writesInPlace() const { return inPlace_; }
    QString temporaryPath() const { return tempPath_; }

  private:
    bool fail(const QString& what, int err);
    bool openInPlace(const QByteArray& name, bool exists);

    QString target_;
    QString finalPath_;
    QString tempPath_;
    int fd_ = -1;
    bool direct_ = false;
    bool inPlace_ = false;
    bool createdInPlace_ = false; // the in-place target did not exist before
    bool truncated_ = false;      // the in-place target has lost its old content
    bool failed_ = false;
    QString error_;
    QString reason_;
};

} // namespace orvex
