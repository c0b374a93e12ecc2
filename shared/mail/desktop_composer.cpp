// The desktop's mail composer in place of the system's mail dialog: xdg-email gets the subject
// and the body (which carries the attachment blocks) and shows the user's mail program.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/testswitch.h"
#include "shared/mail/transport.h"
#include "shared/strformat.h"

namespace mail {

namespace {

constexpr int kComposerWaitMs = 60000;
// One argument may hold at most 128 KiB: a longer body goes as an attached file.
constexpr size_t kLongestBodyArgument = 100000;

std::string FindInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "";
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const std::string dir = end > start ? list.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        struct stat st{};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// A private file holding the body; its path, or empty when it cannot be written.
std::string WriteBodyFile(const std::string& body) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/kestrel-mail-XXXXXX.txt";
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    const int fd = mkstemps(name.data(), 4);  // mode 0600
    if (fd < 0) return {};
    size_t done = 0;
    while (done < body.size()) {
        const ssize_t n = write(fd, body.data() + done, body.size() - done);
        if (n <= 0) {
            close(fd);
            unlink(name.data());
            return {};
        }
        done += size_t(n);
    }
    close(fd);
    return name.data();
}

// A composer still running after the wait is left to a thread of its own, which reaps it the
// moment it ends (it does not linger as a zombie) and then removes the body file it read. The
// thread's hold on the composer is never given up by the program's end: that must not end a
// composer the user still writes in.
void ReapWhenEnded(kp::ChildProcess child, std::string file) {
    auto* composer = new kp::ChildProcess(std::move(child));
    std::thread([composer, file = std::move(file)] {
        composer->WaitFor(-1);
        delete composer;
        if (!file.empty()) unlink(file.c_str());
    }).detach();
}

void NotSent() {
    kp::MessageBox(kp::Owner::Active, "Message Not Sent!", "Mail Exception", kp::Icon::Exclamation);
}

}  // namespace

int DoMapiMail(const Message& message, const MailHost& host) {
    const std::string tool = FindInPath("xdg-email");
    if (tool.empty()) {
        NotSent();
        return 2;
    }
    std::vector<std::string> argv = {"xdg-email", "--utf8", "--subject", message.subject};
    // The composer takes text with LF line ends (it makes CR LF of each LF itself).
    const std::string body = WithLfLineEnds(message.body);
    std::string file;
    if (body.size() > kLongestBodyArgument) {
        file = WriteBodyFile(body);
        if (file.empty()) {
            NotSent();
            return 0;
        }
        argv.insert(argv.end(), {"--body", "The message text is in the attached file.", "--attach", file});
    } else {
        argv.insert(argv.end(), {"--body", body});
    }
    auto child = kp::ChildProcess::Spawn(tool, argv);
    if (!child) {
        if (!file.empty()) unlink(file.c_str());
        NotSent();
        return 0;
    }
    // Waits for the composer a bounded time, handling input meanwhile.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(kComposerWaitMs * kp::TestSleepScale()));
    bool ended = false;
    while (!(ended = child->WaitFor(50)) && std::chrono::steady_clock::now() < deadline)
        if (host.pump) host.pump();
    if (!ended) {
        ReapWhenEnded(std::move(*child), file);
        return 0;
    }
    if (!file.empty()) unlink(file.c_str());
    if (child->exit_code() != 0) NotSent();
    return 0;
}

}  // namespace mail
