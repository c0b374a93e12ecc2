// The file layer of the disk test: creating a test file in a cache mode (direct, write-through,
// access hint), the direct-I/O alignment of a file, and batches of asynchronous requests.
#pragma once

#include <aio.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kp {

struct DiskFileMode {
    bool direct = false;         // transfers bypass the page cache (O_DIRECT)
    bool write_through = false;  // a write returns when its data is on the device (O_DSYNC)
    bool sequential = false;     // access hint for the cache: sequential, else random
};

// What direct transfers on a file must be aligned to: the buffer address, and file offsets and
// lengths. `reported` is false when the file system does not say (the defaults are then 4096).
struct DirectIoAlignment {
    uint32_t memory = 4096;
    uint32_t offset = 4096;
    bool reported = false;
};
DirectIoAlignment DirectIoAlignmentOf(int fd);

enum class CreateStatus {
    Created,        // fd is open
    NameTaken,      // the name belongs to a link or to another user's file: try another name
    Failed,         // error holds errno
    DirectRefused,  // the file system refuses direct transfers of this size; reason says why
};

struct CreatedFile {
    CreateStatus status = CreateStatus::Failed;
    int fd = -1;
    int error = 0;
    std::string reason;
};

// Creates path for reading and writing with mode 0600, exclusively: never through a symbolic
// link and never over an existing file. A regular file of this user left under the name (by an
// earlier run that crashed) is removed and the create tried once more.
//
// With mode.direct the new file is switched to direct transfers of block_size bytes and one such
// transfer is tried (the file is then emptied again). The caller's buffers must be aligned to
// 4096 bytes. When the file system refuses, or its alignment does not fit block_size or such a
// buffer, the file is removed and the result is DirectRefused with the reason: never a buffered
// file in place of a direct one.
CreatedFile CreateDiskFile(const std::string& path, const DiskFileMode& mode, size_t block_size);

// For tests: while on, every switch to direct transfers is refused as a file system without
// direct I/O refuses it.
void RefuseDirectIo(bool refuse);

// The asynchronous requests of one pass: one control block per request, all allocated up front.
// Requests are issued back to back; WaitAll waits for every one of them and checks each result.
// The buffers must stay valid until WaitAll returns; the destructor waits for any request still
// in flight, so neither the buffers nor the file may go away under a running request.
class AioBatch {
public:
    explicit AioBatch(size_t capacity);
    ~AioBatch();
    AioBatch(const AioBatch&) = delete;
    AioBatch& operator=(const AioBatch&) = delete;

    // False when the control blocks could not be allocated.
    bool ok() const { return blocks_ != nullptr; }
    // Issues one request; false (nothing issued) when the batch is full or the system refuses.
    bool Write(int fd, const void* buffer, size_t length, off_t offset);
    bool Read(int fd, void* buffer, size_t length, off_t offset);
    // Waits for every issued request. True when each ended without error and every write moved
    // its whole length; otherwise *error holds the first failure's errno (EIO for a short write).
    // A request the system refused to issue counts as a failure too.
    bool WaitAll(int* error);
    size_t issued() const { return issued_; }

private:
    bool Submit(int fd, void* buffer, size_t length, off_t offset, bool write);
    std::unique_ptr<aiocb[]> blocks_;
    size_t capacity_ = 0;
    size_t issued_ = 0;
    size_t drained_ = 0;  // requests before this one have ended (while issuing)
    size_t reaped_ = 0;   // requests before this one were waited for and checked
    int submit_error_ = 0;
};

}  // namespace kp
