// The desktop's mail composer in place of the system's mail dialog: xdg-email gets the subject
// and the body (which carries the attachment blocks) and shows the user's mail program.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/testswitch.h"
#include "shared/mail/transport.h"

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

// A composer still running after the wait, with the body file it reads: kept until it ends.
struct Pending {
    kp::ChildProcess child;
    std::string file;
};
// Never destroyed: the program's end must not end a composer the user still writes in.
std::vector<std::unique_ptr<Pending>>& PendingComposers() {
    static auto* pending = new std::vector<std::unique_ptr<Pending>>;
    return *pending;
}

void ReapPending() {
    auto& pending = PendingComposers();
    for (auto it = pending.begin(); it != pending.end();) {
        if (!(*it)->child.Alive()) {
            if (!(*it)->file.empty()) unlink((*it)->file.c_str());
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
}

void NotSent() {
    kp::MessageBox(kp::Owner::Active, "Message Not Sent!", "Mail Exception", kp::Icon::Exclamation);
}

}  // namespace

int DoMapiMail(const Message& message, const MailHost& host) {
    ReapPending();
    const std::string tool = FindInPath("xdg-email");
    if (tool.empty()) {
        NotSent();
        return 2;
    }
    std::vector<std::string> argv = {"xdg-email", "--utf8", "--subject", message.subject};
    std::string file;
    if (message.body.size() > kLongestBodyArgument) {
        file = WriteBodyFile(message.body);
        if (file.empty()) {
            NotSent();
            return 0;
        }
        argv.insert(argv.end(), {"--body", "The message text is in the attached file.", "--attach", file});
    } else {
        argv.insert(argv.end(), {"--body", message.body});
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
        PendingComposers().push_back(std::make_unique<Pending>(Pending{std::move(*child), file}));
        return 0;
    }
    if (!file.empty()) unlink(file.c_str());
    if (child->exit_code() != 0) NotSent();
    return 0;
}

}  // namespace mail
