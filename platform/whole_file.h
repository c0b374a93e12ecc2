// Files written whole or not at all: the report files, the viewer's saved documents, the address
// book, the registry files and the installer's text files. The bytes go to a new file beside the
// target, made there and then under a name of its own (created exclusively, so never a file or
// link found at a known name), are put on the disk, and only then take the target's name. A
// failure at any point leaves the target as it was and no new file behind.
//
// An existing file is replaced only when the user may write it. Where its folder takes no new
// file, or its name may not be given to another file (another user's file in a sticky folder, a
// mounted file), it is written where it is instead. Then the new bytes are made in memory first
// and the disk space they need is taken for the file before its old bytes are touched: a failure
// up to that point (a full disk) leaves it as it was. A failure after it (a failing device, or a
// full disk on a file system that cannot set space aside) leaves it part-written. On a
// copy-on-write file system (btrfs, ZFS) the space set aside does not cover writing over the old
// bytes, which takes new blocks: there a full disk can still leave the file part-written.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kp {

enum class WholeFile {
    Written,       // the target holds the new bytes
    Exists,        // the name exists and was not to be replaced: nothing was written
    CannotCreate,  // the target cannot be replaced or no new file could be made beside it
    WriteFailed,   // writing, syncing or renaming failed (a full disk)
};

// Writes the file at `path` through `write`, which is given the new file's descriptor and answers
// false when a write failed. Without `replace` an existing name is Exists; with it a regular file,
// or the one a link names (the link stays), is replaced and keeps its permission bits; anything
// else (a folder, a device, a FIFO, a socket), or a file the user may not write, is CannotCreate.
// A new name gets `mode` less the umask, as a file created by open() would. On Written, when kept_fd is given it receives the
// written file, still open for writing; otherwise the file is closed.
WholeFile WriteWholeFile(const std::string& path, bool replace, const std::function<bool(int fd)>& write,
                         int* kept_fd = nullptr, mode_t mode = 0666);
// The same with the given bytes.
WholeFile WriteWholeFile(const std::string& path, bool replace, const std::string& bytes, mode_t mode = 0666);

// Writes every byte, going on after a short write or an interruption; false on a failed write.
bool WriteAllBytes(int fd, const char* data, size_t size);
// Writes every line followed by CR LF, in blocks; false when any write fails.
bool WriteCrLfLines(int fd, const std::vector<std::string>& lines);

}  // namespace kp
