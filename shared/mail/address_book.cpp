#include "shared/mail/address_book.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

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

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
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
    std::string old;
    int error = 0;
    std::string bytes;
    if (ReadAll(path, &old, &error) && !Tail(old).empty()) bytes = "\r\n";
    bytes += entry + "\r\n";
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, bytes);
    return close(fd) == 0 && ok;
}

bool RewriteAddressBook(const std::string& path, const std::vector<std::string>& entries) {
    std::string old;
    int error = 0;
    std::string bytes;
    for (const std::string& e : entries) bytes += e + "\r\n";
    if (ReadAll(path, &old, &error)) bytes += Tail(old);
    struct stat st{};
    const mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    // The new text goes to a file of a fresh name beside the book, made here and now (never a
    // file or link found at a known name), and then takes the book's place.
    std::string temp = path + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fchmod(fd, mode) == 0;
    ok = WriteAll(fd, bytes) && ok;
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
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
