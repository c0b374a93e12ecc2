#include "shared/mail/compose.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/msgbox.h"
#include "shared/strformat.h"

namespace mail {

namespace {

enum class Read { Ok, OpenFailed, ReadFailed };

// Files are opened for reading only: a read-only benchmark file can be attached. Only a regular
// file is read: a pipe would hold the program and a device could read without end (opening does
// not wait for a pipe's writer). Anything else opens but cannot be read, as a folder.
Read ReadFile(const std::string& path, std::string* text) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Read::OpenFailed;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return Read::ReadFailed;
    }
    text->clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return Read::ReadFailed;
        }
        if (n == 0) break;
        text->append(buf, size_t(n));
    }
    close(fd);
    return Read::Ok;
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
        case Read::Ok: *body += text; return true;
    }
    return true;
}

std::vector<std::string> SplitAttachments(const std::string& text) {
    const std::string list = text.substr(0, 15000);
    std::vector<std::string> paths;
    size_t start = 0;
    while (start < list.size() && paths.size() < 25) {
        size_t end = list.find("; ", start);
        if (end == std::string::npos) end = list.size();
        if (end > start) paths.push_back(list.substr(start, end - start));
        start = end + 2;
    }
    return paths;
}

bool AppendAttachments(const std::vector<std::string>& paths, AttachHeader header, bool keep_unended_last_line,
                       std::string* body) {
    return AppendAttachments(paths, header, keep_unended_last_line, DocumentText(), body);
}

bool AppendAttachments(const std::vector<std::string>& paths, AttachHeader header, bool keep_unended_last_line,
                       const DocumentText& document, std::string* body) {
    if (paths.empty()) return true;
    std::string text = *body + "******************** Attachment(s) Follow ******************\r\n\r\n";
    const char* name = header == AttachHeader::Smtp ? "X-Attachment" : "NT-Attachment";
    int k = 0;
    for (const std::string& path : paths) {
        ++k;
        if (document) {
            if (const std::optional<std::string> doc = document(path)) {
                text += StrPrintf("\r\n%s:  %s\r\nBegin File %d:\r\n\r\n", name, path.c_str(), k) + *doc;
                continue;
            }
        }
        std::string file;
        const Read r = ReadFile(path, &file);
        if (r == Read::OpenFailed) {
            Box(StrPrintf("Could not open the file '%s'.", path.c_str()), "File Exception");
            return false;
        }
        if (r == Read::ReadFailed) {
            Box(StrPrintf("Cannot read file '%s', file being skipped", path.c_str()), "File Exception");
            continue;
        }
        if (!keep_unended_last_line) file.erase(file.rfind('\n') == std::string::npos ? 0 : file.rfind('\n') + 1);
        text += StrPrintf("\r\n%s:  %s\r\nBegin File %d:\r\n\r\n", name, path.c_str(), k) + file;
    }
    text += "\r\n\r\n******************** Attachment(s) End ******************\r\n";
    *body = std::move(text);
    return true;
}

}  // namespace mail
