#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kp {

namespace {

// The folder part of a path, with its slash ("./" for a bare name).
std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// A new empty file beside `target` under a random hidden name, created exclusively (an existing
// name, a link included, is never opened) with `mode` less the umask; -1 on failure.
int CreateBeside(const std::string& target, mode_t mode, std::string* name) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const size_t slash = target.rfind('/');
    // The target's own name, shortened so that the new name stays within a file name's length.
    const std::string base = target.substr(slash == std::string::npos ? 0 : slash + 1).substr(0, 200);
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[10];
        if (getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) return -1;
        std::string suffix;
        for (unsigned char r : random) suffix += kChars[r % (sizeof kChars - 1)];
        *name = FolderOf(target) + "." + base + "." + suffix;
        const int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Gives the written file the target's name; without `replace` an existing name is kept (EEXIST).
bool MoveInto(const std::string& from, const std::string& target, bool replace) {
    if (replace) return ::rename(from.c_str(), target.c_str()) == 0;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace rename: a second link, which fails on an existing name.
    if (::link(from.c_str(), target.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

// The new name's entry is put on the disk too (where the folder can be opened for that).
void SyncFolder(const std::string& target) {
    const int dir = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

// The folder or the name refuses the new file (rights, a read-only folder beside a writable
// mounted file, a mount point, another file system), as against a full disk or a failing device.
bool Refused(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == EBUSY || error == EXDEV;
}

// Takes the disk space for `size` bytes of the file (beyond its end too, its size unchanged).
// True when taken, or when the file system cannot set space aside (*taken is then false).
bool ReserveSpace(int fd, size_t size, bool* taken) {
    *taken = false;
    if (size == 0) return true;
    int result;
    do {
        result = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(size));
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        *taken = true;
        return true;
    }
    return errno == EOPNOTSUPP || errno == ENOSYS;
}

// The bytes `write` makes, through a file in memory; false when it or the reading back fails.
// *made is false when no file in memory could be had.
bool MakeInMemory(const std::function<bool(int fd)>& write, std::string* bytes, bool* made) {
    const int fd = ::memfd_create("kestrel-new-file", MFD_CLOEXEC);
    *made = fd >= 0;
    if (fd < 0) return false;
    bool ok = write(fd);
    char block[65536];
    for (off_t at = 0; ok;) {
        const ssize_t n = ::pread(fd, block, sizeof block, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        bytes->append(block, size_t(n));
        at += n;
    }
    ::close(fd);
    return ok;
}

// Writes the old file's own bytes anew through `fd` (open for writing); its permissions and owner
// stay. The new bytes are made first and the disk space they need is taken before the old bytes
// are touched: a full disk leaves the old file as it was. Only a later failure (a failing device,
// or a file system that cannot set space aside and then fills) leaves it part-written, and on a
// copy-on-write file system (btrfs, ZFS), where writing over the old bytes takes new blocks that
// the space set aside does not cover, a full disk too.
WholeFile WriteInPlace(int fd, const std::function<bool(int fd)>& write, int* kept_fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    bool ok = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    std::string bytes;
    bool made = false;
    const bool staged = ok && MakeInMemory(write, &bytes, &made);
    bool reserved = false;
    if (ok && !made) {
        // No file in memory to be had: emptied and written directly.
        ok = ::ftruncate(fd, 0) == 0 && write(fd);
    } else if (!staged || !ReserveSpace(fd, bytes.size(), &reserved)) {
        ok = false;
    } else if (reserved) {
        // Written over the old bytes, then cut to the new size: emptying the file first would
        // give the space just taken back.
        ok = ::lseek(fd, 0, SEEK_SET) == 0 && WriteAllBytes(fd, bytes.data(), bytes.size()) &&
             ::ftruncate(fd, off_t(bytes.size())) == 0;
    } else {
        ok = ::ftruncate(fd, 0) == 0 && WriteAllBytes(fd, bytes.data(), bytes.size());
    }
    ok = ok && ::fsync(fd) == 0;
    if (ok && kept_fd != nullptr) {
        *kept_fd = fd;
        return WholeFile::Written;
    }
    ok = ::close(fd) == 0 && ok;
    return ok ? WholeFile::Written : WholeFile::WriteFailed;
}

// Opens the old file for writing as it stands, without truncating it and without waiting should
// something else have taken the name meanwhile (a pipe would wait for a reader), and writes it in
// place. A read lease that another program holds on it is broken by the open: its holder is asked
// to give it up, and the open is tried again for up to two seconds. A holder that keeps it longer
// (the system would wait for it up to its break time, /proc/sys/fs/lease-break-time, 45 s by
// default) leaves the file unwritten rather than the program waiting that long.
WholeFile WriteWhereItStands(const std::string& target, const std::function<bool(int fd)>& write, int* kept_fd) {
    int fd;
    for (int tries = 0;; ++tries) {
        fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || (errno != EWOULDBLOCK && errno != EINTR) || tries == 200) break;
        const struct timespec pause = {0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    if (fd < 0) return WholeFile::CannotCreate;
    struct stat now{};
    if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) {
        ::close(fd);
        return WholeFile::CannotCreate;
    }
    return WriteInPlace(fd, write, kept_fd);
}

}  // namespace

bool WriteAllBytes(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool WriteCrLfLines(int fd, const std::vector<std::string>& lines) {
    std::string block;
    constexpr size_t kBlock = 65536;
    for (const std::string& line : lines) {
        block += line;
        block += "\r\n";
        if (block.size() >= kBlock) {
            if (!WriteAllBytes(fd, block.data(), block.size())) return false;
            block.clear();
        }
    }
    return WriteAllBytes(fd, block.data(), block.size());
}

WholeFile WriteWholeFile(const std::string& path, bool replace, const std::function<bool(int fd)>& write,
                         int* kept_fd, mode_t mode) {
    struct stat st{};
    std::string target = path;
    const bool exists = ::lstat(path.c_str(), &st) == 0;
    if (exists && !replace) return WholeFile::Exists;
    if (exists && S_ISLNK(st.st_mode)) {
        // The file the link names is replaced, the link stays.
        char* real = ::realpath(path.c_str(), nullptr);
        const bool named = real != nullptr && ::stat(real, &st) == 0;
        if (real != nullptr) target = real;
        std::free(real);
        if (!named) return WholeFile::CannotCreate;
    }
    // Only a regular file is replaced; a folder, a device, a FIFO or a socket is left alone.
    if (exists && !S_ISREG(st.st_mode)) return WholeFile::CannotCreate;

    // A file the user may not write is refused before anything is written, by the system's own
    // rights check (root's included, a read-only file system too). The file is not opened for
    // writing to find out: an open for writing breaks a read lease that another program holds on
    // it (a file server's), and without waiting it fails while the lease stands. It is opened only
    // where it is written in place.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return WholeFile::CannotCreate;

    std::string temp;
    const int fd = CreateBeside(target, mode, &temp);
    if (fd < 0) {
        // No new file may be made in the folder: the old file is written where it is.
        const int error = errno;
        if (exists && Refused(error)) return WriteWhereItStands(target, write, kept_fd);
        return WholeFile::CannotCreate;
    }
    bool ok = !exists || ::fchmod(fd, st.st_mode & 07777) == 0;  // the replaced file's permissions
    ok = ok && write(fd) && ::fsync(fd) == 0;
    if (ok && kept_fd == nullptr) {
        ok = ::close(fd) == 0;
    } else if (!ok) {
        ::close(fd);
    }
    int error = 0;
    if (ok && !MoveInto(temp, target, replace)) {
        ok = false;
        error = errno;
        if (kept_fd != nullptr) ::close(fd);
    }
    if (!ok) {
        ::unlink(temp.c_str());
        // The name may not be given to another file (a sticky folder, a mounted file): the old
        // file is written where it is.
        if (exists && Refused(error)) return WriteWhereItStands(target, write, kept_fd);
        // A name made by someone else meanwhile is an existing name.
        return !replace && error == EEXIST ? WholeFile::Exists : WholeFile::WriteFailed;
    }
    SyncFolder(target);
    if (kept_fd != nullptr) *kept_fd = fd;
    return WholeFile::Written;
}

WholeFile WriteWholeFile(const std::string& path, bool replace, const std::string& bytes, mode_t mode) {
    return WriteWholeFile(
        path, replace, [&bytes](int fd) { return WriteAllBytes(fd, bytes.data(), bytes.size()); }, nullptr, mode);
}

}  // namespace kp
