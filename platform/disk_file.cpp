#include "platform/disk_file.h"
#include "platform/error_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace kp {

namespace {

std::atomic<bool> g_refuse_direct{false};

constexpr uint32_t kDefaultAlignment = 4096;
// The callers' buffers are aligned to at least this.
constexpr uint32_t kBufferAlignment = 4096;

// Switches an open file to direct transfers and tries one; empty when accepted, else the reason.
std::string EnableDirect(int fd, size_t block_size) {
    DirectIoAlignment align = DirectIoAlignmentOf(fd);
    const long page = sysconf(_SC_PAGESIZE);
    if (align.reported && align.offset == 0) return "the file system does not accept direct I/O";
    if (block_size % align.offset != 0) {
        return "block size " + std::to_string(block_size) +
               " Bytes is below the direct I/O alignment of " + std::to_string(align.offset) + " Bytes";
    }
    if (align.memory > kBufferAlignment) {
        return "buffers must be aligned to " + std::to_string(align.memory) + " Bytes";
    }
    int flags = fcntl(fd, F_GETFL);
    if (g_refuse_direct.load() || flags < 0 || fcntl(fd, F_SETFL, flags | O_DIRECT) != 0) {
        int error = g_refuse_direct.load() ? EINVAL : errno;
        return "the file system does not accept direct I/O (" + ErrorText(error) + ")";
    }
    // A file system may accept the flag and still refuse the transfers: try one.
    const size_t alignment = page > 0 ? size_t(page) : kDefaultAlignment;
    void* probe = std::aligned_alloc(alignment, (block_size + alignment - 1) / alignment * alignment);
    if (probe == nullptr) return "no memory for a trial transfer";
    std::memset(probe, 0, block_size);
    std::string reason;
    if (pwrite(fd, probe, block_size, 0) != ssize_t(block_size) || pread(fd, probe, block_size, 0) < 0) {
        reason = "the file system refused a direct transfer (" + ErrorText(errno) + ")";
    } else if (ftruncate(fd, 0) != 0) {
        reason = "the file could not be emptied after a trial transfer (" + ErrorText(errno) + ")";
    }
    std::free(probe);
    return reason;
}

}  // namespace

DirectIoAlignment DirectIoAlignmentOf(int fd) {
    DirectIoAlignment align;
    struct statx sx{};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 && (sx.stx_mask & STATX_DIOALIGN) != 0) {
        align.reported = true;
        align.memory = sx.stx_dio_mem_align;
        align.offset = sx.stx_dio_offset_align;
    }
    return align;
}

void RefuseDirectIo(bool refuse) { g_refuse_direct.store(refuse); }

CreatedFile CreateDiskFile(const std::string& path, const DiskFileMode& mode, size_t block_size) {
    CreatedFile result;
    int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    if (mode.write_through) flags |= O_DSYNC;
    for (int attempt = 0;; ++attempt) {
        result.fd = open(path.c_str(), flags, 0600);
        if (result.fd >= 0) break;
        result.error = errno;
        if (result.error != EEXIST) return result;
        struct stat st{};
        if (lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT && attempt == 0) continue;  // gone meanwhile
            return result;
        }
        // Only a stale file of this user is replaced, and only once.
        if (attempt > 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
            unlink(path.c_str()) != 0) {
            result.status = CreateStatus::NameTaken;
            return result;
        }
    }
    result.error = 0;
    if (mode.direct) {
        result.reason = EnableDirect(result.fd, block_size);
        if (!result.reason.empty()) {
            close(result.fd);
            unlink(path.c_str());
            result.fd = -1;
            result.status = CreateStatus::DirectRefused;
            return result;
        }
    }
    posix_fadvise(result.fd, 0, 0, mode.sequential ? POSIX_FADV_SEQUENTIAL : POSIX_FADV_RANDOM);
    result.status = CreateStatus::Created;
    return result;
}

AioBatch::AioBatch(size_t capacity)
    : blocks_(new (std::nothrow) aiocb[capacity > 0 ? capacity : 1]()), capacity_(capacity) {}

AioBatch::~AioBatch() {
    int ignored = 0;
    WaitAll(&ignored);
}

bool AioBatch::Submit(int fd, void* buffer, size_t length, off_t offset, bool write) {
    if (!blocks_ || issued_ >= capacity_) {
        if (submit_error_ == 0) submit_error_ = ENOMEM;
        return false;
    }
    aiocb& cb = blocks_[issued_];
    cb = aiocb{};
    cb.aio_fildes = fd;
    cb.aio_buf = buffer;
    cb.aio_nbytes = length;
    cb.aio_offset = offset;
    cb.aio_lio_opcode = write ? LIO_WRITE : LIO_READ;  // kept for the check in WaitAll
    cb.aio_sigevent.sigev_notify = SIGEV_NONE;
    int r;
    while ((r = write ? aio_write(&cb) : aio_read(&cb)) != 0 && errno == EAGAIN) {
        // The system's request queue is full: wait for the oldest request still running.
        while (drained_ < issued_ && aio_error(&blocks_[drained_]) != EINPROGRESS) ++drained_;
        if (drained_ < issued_) {
            const aiocb* list[1] = {&blocks_[drained_]};
            aio_suspend(list, 1, nullptr);
        } else {
            usleep(100);
        }
    }
    if (r != 0) {
        if (submit_error_ == 0) submit_error_ = errno;
        return false;
    }
    ++issued_;
    return true;
}

bool AioBatch::Write(int fd, const void* buffer, size_t length, off_t offset) {
    return Submit(fd, const_cast<void*>(buffer), length, offset, true);
}

bool AioBatch::Read(int fd, void* buffer, size_t length, off_t offset) {
    return Submit(fd, buffer, length, offset, false);
}

bool AioBatch::WaitAll(int* error) {
    int first = submit_error_;
    for (; reaped_ < issued_; ++reaped_) {
        aiocb& cb = blocks_[reaped_];
        int state;
        while ((state = aio_error(&cb)) == EINPROGRESS) {
            const aiocb* list[1] = {&cb};
            aio_suspend(list, 1, nullptr);
        }
        ssize_t moved = aio_return(&cb);
        if (first == 0) {
            if (state != 0) {
                first = state;
            } else if (cb.aio_lio_opcode == LIO_WRITE && size_t(moved) != cb.aio_nbytes) {
                first = EIO;
            }
        }
    }
    submit_error_ = 0;
    if (first != 0) *error = first;
    return first == 0;
}

}  // namespace kp
