#include "shared/file_text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <stdexcept>

namespace {

// The most one read asks for: a long read returns between steps of this size.
constexpr size_t kReadStep = size_t(16) << 20;
// What is looked for past the end of the buffer: whether the file goes on.
constexpr size_t kProbe = 16384;

// One read, repeated when interrupted; the bytes read, 0 at the end, -1 on failure.
ssize_t ReadSome(int fd, char* into, size_t count) {
    for (;;) {
        const ssize_t n = read(fd, into, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}

}  // namespace

FileText ReadFileText(int fd, std::string* text, const std::function<void()>& between_reads) {
    text->clear();
    struct stat st {};
    if (fstat(fd, &st) != 0) return FileText::ReadFailed;
    const off_t at = lseek(fd, 0, SEEK_CUR);
    const off_t known = st.st_size - (at > 0 ? at : 0);
    const auto give_up = [text](FileText why) {
        std::string().swap(*text);
        return why;
    };
    try {
        if (known > 0) {
            if (uint64_t(known) >= text->max_size()) return FileText::NoMemory;
            // Reserved once: the steps below fill it without moving it.
            text->reserve(size_t(known));
        }
        for (;;) {
            ssize_t n = 0;
            if (text->size() < text->capacity()) {
                const size_t done = text->size();
                const size_t step = std::min(text->capacity() - done, kReadStep);
                text->resize(done + step);
                n = ReadSome(fd, text->data() + done, step);
                text->resize(done + size_t(std::max<ssize_t>(n, 0)));
            } else {
                // The buffer is full: only when the file goes on does it grow (a file of the
                // size it had is not copied to learn that it ends there).
                char probe[kProbe];
                n = ReadSome(fd, probe, sizeof probe);
                if (n > 0) text->append(probe, size_t(n));
            }
            if (n < 0) return give_up(FileText::ReadFailed);
            if (n == 0) return FileText::Ok;
            if (between_reads) between_reads();
        }
    } catch (const std::bad_alloc&) {
        return give_up(FileText::NoMemory);
    } catch (const std::length_error&) {
        return give_up(FileText::NoMemory);
    }
}
