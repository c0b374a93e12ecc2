#include "install/expand_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kChunk = 1 << 16;

// A file descriptor closed on every path out.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

bool WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Opens the source and checks the destination's directory: kExpandOk, or the code to exit with.
int OpenEnds(const std::string& source, const std::string& destination, int* in, struct stat* st) {
    *in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (*in < 0) return (errno == ENOENT || errno == ENOTDIR) ? kExpandNoSource : kExpandFailed;
    if (fstat(*in, st) != 0 || !S_ISREG(st->st_mode)) return kExpandFailed;
    const size_t slash = destination.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : destination.substr(0, slash == 0 ? 1 : slash);
    struct stat d {};
    if (stat(dir.c_str(), &d) != 0 || !S_ISDIR(d.st_mode)) return kExpandNoDirectory;
    return kExpandOk;
}

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Gives the finished temporary file its mode (permission bits only, less the umask) and the
// source's time, puts it on the disk and renames it into place.
int Finish(int out, const std::string& tmp, const std::string& destination, const struct stat& st, mode_t mode) {
    const struct timespec times[2] = {{0, UTIME_NOW}, st.st_mtim};
    if (fchmod(out, (mode & 0777) & ~CurrentUmask()) != 0 || futimens(out, times) != 0) return kExpandFailed;
    if (fsync(out) != 0) return kExpandFailed;
    if (close(out) != 0) return kExpandFailed;
    if (rename(tmp.c_str(), destination.c_str()) != 0) return kExpandFailed;
    return kExpandOk;
}

// Runs `step` with a temporary file open; removes the temporary file unless all went well. The
// temporary file is new, under a name of its own beside the destination (created exclusively,
// so nothing already there, a symbolic link or another expansion's file, is ever written).
template <typename Step>
int ThroughTemporary(const std::string& destination, const struct stat& st, mode_t mode, Step step) {
    std::string tmp = destination + ".tmp-XXXXXX";
    int out = mkostemp(tmp.data(), O_CLOEXEC);
    if (out < 0) return kExpandFailed;
    int code = step(out);
    if (code == kExpandOk) {
        code = Finish(out, tmp, destination, st, mode);
        out = -1;  // closed by Finish
    }
    if (out >= 0) close(out);
    if (code != kExpandOk) unlink(tmp.c_str());
    return code;
}

}  // namespace

int ExpandFile(const std::string& source, const std::string& destination, mode_t mode) {
    int inFd = -1;
    struct stat st {};
    int code = OpenEnds(source, destination, &inFd, &st);
    Fd in(inFd);
    if (code != kExpandOk) return code;

    return ThroughTemporary(destination, st, mode, [&](int out) {
        z_stream z {};
        // 16 + 15: a gzip wrapper only; inflate checks the magic, the CRC-32 and the length.
        if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return int(kExpandFailed);
        std::vector<unsigned char> input(kChunk), output(kChunk);
        int result = kExpandCorrupt;  // input that ends before the member does is corrupt
        bool ended = false;
        for (;;) {
            ssize_t n = read(in.fd, input.data(), input.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                result = kExpandFailed;
                break;
            }
            if (n == 0) {
                if (ended) result = kExpandOk;
                break;
            }
            if (ended) break;  // bytes after the one member
            z.next_in = input.data();
            z.avail_in = unsigned(n);
            bool failed = false;
            do {
                z.next_out = output.data();
                z.avail_out = unsigned(output.size());
                const int r = inflate(&z, Z_NO_FLUSH);
                if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) {
                    result = r == Z_MEM_ERROR ? kExpandFailed : kExpandCorrupt;
                    failed = true;
                    break;
                }
                if (!WriteAll(out, output.data(), output.size() - z.avail_out)) {
                    result = kExpandFailed;
                    failed = true;
                    break;
                }
                if (r == Z_STREAM_END) ended = true;
                if (r != Z_OK) break;
            } while (z.avail_out == 0 || z.avail_in > 0);
            if (failed) break;
            if (ended && z.avail_in > 0) break;  // trailing bytes in this block
        }
        inflateEnd(&z);
        return result;
    });
}

int CompressFile(const std::string& source, const std::string& destination) {
    int inFd = -1;
    struct stat st {};
    int code = OpenEnds(source, destination, &inFd, &st);
    Fd in(inFd);
    if (code != kExpandOk) return code;

    return ThroughTemporary(destination, st, 0644, [&](int out) {
        z_stream z {};
        if (deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
            return int(kExpandFailed);
        gz_header header {};
        header.time = uLong(st.st_mtim.tv_sec);
        header.os = 3;  // Unix
        deflateSetHeader(&z, &header);
        std::vector<unsigned char> input(kChunk), output(kChunk);
        int result = kExpandOk;
        for (bool last = false; !last && result == kExpandOk;) {
            ssize_t n = read(in.fd, input.data(), input.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                result = kExpandFailed;
                break;
            }
            last = n == 0;
            z.next_in = input.data();
            z.avail_in = unsigned(n);
            do {
                z.next_out = output.data();
                z.avail_out = unsigned(output.size());
                deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
                if (!WriteAll(out, output.data(), output.size() - z.avail_out)) {
                    result = kExpandFailed;
                    break;
                }
            } while (z.avail_out == 0);
        }
        deflateEnd(&z);
        return result;
    });
}
