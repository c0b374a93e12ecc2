#include "glance/documents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "shared/file_text.h"
#include "shared/report_lines.h"

namespace glance {

DocumentStore::~DocumentStore() {
    for (auto& slot : slots_)
        if (slot && slot->fd >= 0) ::close(slot->fd);
}

Document* DocumentStore::Create() {
    for (size_t k = 0; k < slots_.size(); ++k) {
        if (slots_[k]) continue;
        slots_[k] = Document{};
        slots_[k]->id = kFirstDocumentId + int(k);
        return &*slots_[k];
    }
    return nullptr;
}

void DocumentStore::Close(int id) {
    Document* doc = Find(id);
    if (doc == nullptr) return;
    if (doc->fd >= 0) ::close(doc->fd);
    slots_[size_t(id - kFirstDocumentId)].reset();
}

Document* DocumentStore::Find(int id) {
    if (id < kFirstDocumentId || id >= kFirstDocumentId + kMaxDocuments) return nullptr;
    auto& slot = slots_[size_t(id - kFirstDocumentId)];
    return slot ? &*slot : nullptr;
}

const Document* DocumentStore::Find(int id) const { return const_cast<DocumentStore*>(this)->Find(id); }

int DocumentStore::Count() const {
    return int(std::count_if(slots_.begin(), slots_.end(), [](const auto& s) { return s.has_value(); }));
}

ReadResult ReadResultFile(const std::string& path, int* fd, std::vector<std::string>* lines) {
    // Shown, never written: read-only, so that read-only files and media open too. Opened without
    // waiting, so that a FIFO does not hold the window until a writer comes; only a regular file is
    // a document (a device such as /dev/zero never ends).
    const int f = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st{};
    if (f < 0) return ReadResult::CannotOpen;
    const int flags = fcntl(f, F_GETFL);
    if (fstat(f, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || fcntl(f, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(f);
        return ReadResult::CannotOpen;
    }
    *fd = f;
    std::string text;
    switch (ReadFileText(f, &text)) {
        case FileText::Ok: break;
        case FileText::ReadFailed: return ReadResult::ReadError;
        case FileText::NoMemory: return ReadResult::NoMemory;
    }
    try {
        *lines = SplitReportLines(text.data(), text.size());
    } catch (const std::bad_alloc&) {
        lines->clear();
        return ReadResult::NoMemory;
    }
    return ReadResult::Ok;
}

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// A new empty file beside `target` that no one else has (created exclusively); -1 on failure.
int CreateTemporaryBeside(const std::string& target, std::string* name) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string("./") : target.substr(0, slash + 1);
    const std::string stem = folder + ".glance-save-" + std::to_string(::getpid()) + "-";
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = stem + std::to_string(counter++);
        const int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Gives the written temporary file the target's name; without `replace` an existing name is kept.
bool MoveInto(const std::string& temp, const std::string& target, bool replace) {
    if (replace) return ::rename(temp.c_str(), target.c_str()) == 0;
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace rename: a second link, which fails on an existing name.
    if (::link(temp.c_str(), target.c_str()) != 0) return false;
    ::unlink(temp.c_str());
    return true;
}

}  // namespace

bool WriteDocumentLines(int fd, const std::vector<std::string>& lines) {
    // Written in blocks; every write is checked, a short one is continued.
    std::string block;
    constexpr size_t kBlock = 65536;
    for (const std::string& line : lines) {
        block += line;
        block += "\r\n";
        if (block.size() >= kBlock) {
            if (!WriteAll(fd, block.data(), block.size())) return false;
            block.clear();
        }
    }
    return WriteAll(fd, block.data(), block.size());
}

SaveResult SaveDocumentFile(const std::string& path, const std::vector<std::string>& lines, bool replace, int* fd) {
    struct stat st{};
    std::string target = path;
    const bool exists = ::lstat(path.c_str(), &st) == 0;
    if (exists && !replace) return SaveResult::Exists;
    if (exists && S_ISLNK(st.st_mode)) {
        // The file the link names is replaced, the link stays.
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr || ::stat(real, &st) != 0) {
            std::free(real);
            return SaveResult::CannotCreate;
        }
        target = real;
        std::free(real);
    }
    // Only a regular file is replaced; a folder, a device or a FIFO is left alone.
    if (exists && !S_ISREG(st.st_mode)) return SaveResult::CannotCreate;

    std::string temp;
    const int f = CreateTemporaryBeside(target, &temp);
    if (f < 0) return SaveResult::CannotCreate;
    if (exists) ::fchmod(f, st.st_mode & 07777);  // the replaced file's permissions
    if (!WriteDocumentLines(f, lines) || ::fsync(f) != 0 || !MoveInto(temp, target, replace)) {
        const bool appeared = !replace && errno == EEXIST;  // made by someone else meanwhile
        ::close(f);
        ::unlink(temp.c_str());
        return appeared ? SaveResult::Exists : SaveResult::WriteFailed;
    }
    *fd = f;
    return SaveResult::Saved;
}

int AcceptScrollStep(int pos, int step, int max) {
    return step >= -pos && step <= max - pos ? pos + step : pos;
}

int VerticalScrollMax(int line_count, int visible_lines) {
    return std::max(0, line_count - 1 - std::max(0, visible_lines));
}

int HorizontalScrollMax(int widest_pixels, int client_width, int char_width) {
    const int w = std::max(1, char_width);
    const int over = widest_pixels + w - client_width;  // the line's end past the client's right
    return over <= 0 ? 0 : (over + w - 1) / w;
}

}  // namespace glance
