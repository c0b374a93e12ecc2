#include "shared/file_text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

FileText ReadFileText(int fd, std::string* text) {
    text->clear();
    struct stat st {};
    if (fstat(fd, &st) != 0) return FileText::ReadFailed;
    const off_t at = lseek(fd, 0, SEEK_CUR);
    const off_t size = st.st_size - (at > 0 ? at : 0);
    if (size <= 0) return FileText::Ok;
    if (uint64_t(size) >= text->max_size()) return FileText::NoMemory;
    try {
        text->resize(size_t(size));
    } catch (const std::bad_alloc&) {
        std::string().swap(*text);
        return FileText::NoMemory;
    }
    size_t done = 0;
    while (done < text->size()) {
        const ssize_t n = read(fd, text->data() + done, text->size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            std::string().swap(*text);
            return FileText::ReadFailed;
        }
        if (n == 0) break;  // the file became shorter meanwhile
        done += size_t(n);
    }
    text->resize(done);
    return FileText::Ok;
}
