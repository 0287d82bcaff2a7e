#pragma once
// Replaces a file all at once: the bytes go to a temporary file in the target's
// folder, which is flushed to the disk and then renamed over the target. Until
// commit() succeeds the previous file stays exactly as it was; a writer that is
// discarded (or destroyed) without commit removes its temporary file.
//
// A target that exists and is not a regular file (a device such as /dev/full, a
// pipe) cannot be replaced by a rename; it is written directly instead.
// A symbolic link is followed, so the link stays and its target is replaced.

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

    QString errorString() const { return error_; }
    QString temporaryPath() const { return tempPath_; }

  private:
    bool fail(const QString& what, int err);

    QString target_;
    QString finalPath_;
    QString tempPath_;
    int fd_ = -1;
    bool direct_ = false;
    bool failed_ = false;
    QString error_;
};

} // namespace orvex
