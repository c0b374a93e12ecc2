#include "glance/documents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/whole_file.h"
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

SaveResult SaveDocumentFile(const std::string& path, const std::vector<std::string>& lines, bool replace, int* fd) {
    switch (kp::WriteWholeFile(path, replace, [&lines](int f) { return kp::WriteCrLfLines(f, lines); }, fd)) {
        case kp::WholeFile::Written: return SaveResult::Saved;
        case kp::WholeFile::Exists: return SaveResult::Exists;
        case kp::WholeFile::CannotCreate: return SaveResult::CannotCreate;
        case kp::WholeFile::WriteFailed: break;
    }
    return SaveResult::WriteFailed;
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
