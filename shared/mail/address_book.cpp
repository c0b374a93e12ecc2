#include "shared/mail/address_book.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

#include "platform/whole_file.h"

namespace mail {

namespace {

bool ReadAll(const std::string& path, std::string* text, int* error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    text->clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = errno;
            close(fd);
            return false;
        }
        if (n == 0) break;
        text->append(buf, size_t(n));
    }
    close(fd);
    return true;
}

// The text after the last LF (all of it when there is none).
std::string Tail(const std::string& text) {
    const size_t lf = text.rfind('\n');
    return lf == std::string::npos ? text : text.substr(lf + 1);
}

}  // namespace

BookRead ReadAddressBook(const std::string& path, std::vector<std::string>* entries, bool create_missing) {
    entries->clear();
    std::string text;
    int error = 0;
    if (!ReadAll(path, &text, &error)) {
        if (error != ENOENT) return BookRead::ReadFailed;
        if (!create_missing) return BookRead::Created;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) return BookRead::CreateFailed;
        close(fd);
        return BookRead::Created;
    }
    size_t start = 0;
    for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
        size_t end = lf;
        if (end > start && text[end - 1] == '\r') --end;
        entries->push_back(text.substr(start, end - start));
        start = lf + 1;
    }
    return BookRead::Read;
}

bool AppendAddressBookEntry(const std::string& path, const std::string& entry) {
    // The book is rewritten whole with the entry at its end, so that a failed write (a full disk)
    // leaves no part of an entry in it.
    std::string bytes;
    int error = 0;
    if (!ReadAll(path, &bytes, &error) && error != ENOENT) return false;
    if (!Tail(bytes).empty()) bytes += "\r\n";
    bytes += entry + "\r\n";
    return kp::WriteWholeFile(path, true, bytes) == kp::WholeFile::Written;
}

bool RewriteAddressBook(const std::string& path, const std::vector<std::string>& entries) {
    std::string old;
    int error = 0;
    std::string bytes;
    for (const std::string& e : entries) bytes += e + "\r\n";
    if (ReadAll(path, &old, &error)) bytes += Tail(old);
    return kp::WriteWholeFile(path, true, bytes) == kp::WholeFile::Written;
}

std::string MakeEntry(const std::string& address, const std::string& nickname) {
    if (address.empty()) return {};
    return address + " (" + nickname + ")";
}

std::string AddressOfEntry(const std::string& entry) {
    return entry.substr(0, std::min<size_t>(entry.find(' '), 99));
}

std::string JoinAddresses(const std::vector<std::string>& entries) {
    std::string to;
    for (const std::string& e : entries) {
        if (!to.empty()) to += ", ";
        to += AddressOfEntry(e);
    }
    return to;
}

void SortEntries(std::vector<std::string>* entries) {
    std::stable_sort(entries->begin(), entries->end(), [](const std::string& a, const std::string& b) {
        const int c = strcasecmp(a.c_str(), b.c_str());
        return c != 0 ? c < 0 : a < b;
    });
}

}  // namespace mail
