#include "shared/mail/compose.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


#include "platform/msgbox.h"
#include "shared/file_text.h"
#include "shared/strformat.h"

namespace mail {

namespace {

enum class Read { Ok, OpenFailed, ReadFailed, NoMemory };

// Files are opened for reading only: a read-only benchmark file can be attached. Only a regular
// file is read: a pipe would hold the program and a device could read without end (opening does
// not wait for a pipe's writer). Anything else opens but cannot be read, as a folder.
Read ReadFile(const std::string& path, std::string* text) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Read::OpenFailed;
    struct stat st {};
    Read r = Read::ReadFailed;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        switch (ReadFileText(fd, text)) {
            case FileText::Ok: r = Read::Ok; break;
            case FileText::ReadFailed: r = Read::ReadFailed; break;
            case FileText::NoMemory: r = Read::NoMemory; break;
        }
    }
    close(fd);
    return r;
}

void Box(const std::string& text, const char* caption) {
    kp::MessageBox(kp::Owner::Active, text, caption, kp::Icon::Exclamation);
}

}  // namespace

std::string ReportBody(const std::vector<std::string>& lines) {
    std::string body;
    for (const std::string& l : lines) body += l + "\r\n";
    return body;
}

bool AppendSignature(const std::string& path, std::string* body) {
    std::string text;
    switch (ReadFile(path, &text)) {
        case Read::OpenFailed: Box(StrPrintf("Could not open file %s for read", path.c_str()), "Mail Exception"); return false;
        case Read::ReadFailed: Box("Error reading data from signature file", "File Exception"); return true;
        case Read::NoMemory: Box("Allocation Error", "Memory Exception"); return true;
        case Read::Ok: *body += text; return true;
    }
    return true;
}

Attachments SplitAttachments(const std::string& text, bool capped) {
    Attachments list;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("; ", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) {
            const bool fits = !capped || (end <= kAttachmentTextMax && list.paths.size() < kAttachmentsMax);
            (fits ? list.paths : list.left_out).push_back(text.substr(start, end - start));
        }
        start = end + 2;
    }
    return list;
}

void SayLeftOut(const std::vector<std::string>& left_out) {
    if (left_out.empty()) return;
    std::string text = StrPrintf("Not attached (at most %zu files within the first %zu characters of the list):",
                                 kAttachmentsMax, kAttachmentTextMax);
    for (const std::string& path : left_out) text += "\n" + path;
    kp::MessageBox(kp::Owner::Active, text, "Mail Exception", kp::Icon::Information);
}

bool AppendAttachments(const std::vector<std::string>& paths, AttachHeader header, bool keep_unended_last_line,
                       std::string* body, std::string* attached) {
    return AppendAttachments(paths, header, keep_unended_last_line, DocumentText(), body, attached);
}

bool AppendAttachments(const std::vector<std::string>& paths, AttachHeader header, bool keep_unended_last_line,
                       const DocumentText& document, std::string* body, std::string* attached) {
    if (attached != nullptr) attached->clear();
    if (paths.empty()) return true;
    std::string text = *body + "******************** Attachment(s) Follow ******************\r\n\r\n";
    std::string names;
    const char* name = header == AttachHeader::Smtp ? "X-Attachment" : "NT-Attachment";
    int k = 0;
    for (const std::string& path : paths) {
        ++k;
        std::string file;
        if (const std::optional<std::string> doc = document ? document(path) : std::nullopt) {
            file = *doc;
        } else {
            const Read r = ReadFile(path, &file);
            if (r == Read::OpenFailed) {
                Box(StrPrintf("Could not open the file '%s'.", path.c_str()), "File Exception");
                return false;
            }
            if (r == Read::NoMemory) {
                Box("Allocation Error!", "Memory Exception");
                return false;
            }
            if (r == Read::ReadFailed) {
                Box(StrPrintf("Cannot read file '%s', file being skipped", path.c_str()), "File Exception");
                continue;
            }
            if (!keep_unended_last_line) file.erase(file.rfind('\n') == std::string::npos ? 0 : file.rfind('\n') + 1);
        }
        text += StrPrintf("\r\n%s:  %s\r\nBegin File %d:\r\n\r\n", name, path.c_str(), k) + file;
        names += (names.empty() ? "" : "; ") + path;
    }
    text += "\r\n\r\n******************** Attachment(s) End ******************\r\n";
    *body = std::move(text);
    if (attached != nullptr) *attached = std::move(names);
    return true;
}

}  // namespace mail
