#pragma once

#include <cstddef>
#include <string>

// Writes a file so that readers see either the old content or the complete new one, never a
// half-written file: the bytes go to a temporary file in the target's folder, which Commit()
// flushes to disk and renames over the target. Without a successful Commit() the temporary file
// is removed and the target is untouched.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string target);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // True while the temporary file is open and every write so far succeeded.
    bool good() const { return fd_ >= 0 && !failed_; }
    bool Write(const void* data, std::size_t size);
    // Flushes, closes and renames; false (target untouched) on any failure.
    bool Commit();

private:
    void Discard();

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    bool failed_ = false;
};
