#include "glance/documents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(f, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return ReadResult::ReadError;
        }
        text.append(buf, size_t(n));
    }
    *lines = SplitReportLines(text.data(), text.size());
    return ReadResult::Ok;
}

CreateResult CreateNewFile(const std::string& path, int* fd) {
    *fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (*fd >= 0) return CreateResult::Created;
    return errno == EEXIST ? CreateResult::Exists : CreateResult::Failed;
}

int ReplaceFile(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
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
