#include "counters/loadmeter/analyser.h"
#include "platform/error_text.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <system_error>
#include <thread>

#include "platform/local_socket.h"
#include "platform/processors.h"
#include "shared/perf_link.h"

namespace {

using std::chrono::milliseconds;

kp::BoxRequest Box(kp::Owner owner, const std::string& text, const std::string& caption, kp::Icon icon) {
    kp::BoxRequest box;
    box.owner = owner;
    box.text = text;
    box.caption = caption;
    box.icon = icon;
    return box;
}

}  // namespace

std::optional<kp::BoxRequest> CheckCommandLine(const std::vector<std::string>& words) {
    // The words are read as one line: the token, the Windows 95 flag (a number) and the path.
    std::string line;
    for (const std::string& w : words) line += w + " ";
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string w; in >> w;) fields.push_back(w);
    int count = fields.empty() ? 0 : 1;
    long flag = 0;
    if (fields.size() >= 2) {
        const char* s = fields[1].c_str();
        char* end = nullptr;
        flag = std::strtol(s, &end, 10);
        if (end != s) count = *end != '\0' || fields.size() >= 3 ? 3 : 2;
    }
    const std::string caption = "Loadmeter Exception";
    if (count < 3) {
        return Box(kp::Owner::None, "LOADMETER " + std::string(kSuiteVersion) + " can only be run from within Kestrel.",
                   caption, kp::Icon::Stop);
    }
    // This system has only the socket exchange: a caller that asks for the results file of the
    // Windows 95 exchange started the wrong analyser.
    if (fields[0] != kLoadmeterToken || flag != 0) {
        return Box(kp::Owner::None, "Incorrect version of Loadmeter.", caption, kp::Icon::Stop);
    }
    return std::nullopt;
}

Analyser::Analyser(AnalyserHost& host, AnalyserOptions options)
    : host_(host), options_(std::move(options)), windowOfSlot_(32, -1) {}

Analyser::~Analyser() { CloseLink(); }

void Analyser::SystemErrorBox(int error) {
    host_.Box(Box(kp::Owner::Main, kp::ErrorText(error), "Operation Failed", kp::Icon::Exclamation));
}

void Analyser::CloseLink() {
    std::lock_guard<std::mutex> lock(linkMutex_);
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void Analyser::StopAnalyser() {
    stopping_ = true;
    {
        // Wakes a read that waits for the caller's next record.
        std::lock_guard<std::mutex> lock(linkMutex_);
        if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
    }
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        samplingStop_ = true;
    }
    wake_.notify_all();
}

bool Analyser::ConnectPerfPipe() {
    // The caller listens before it starts the analyser; a short absence is waited out.
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(options_.connectWaitMs);
    for (;;) {
        if (stopping_) return false;
        const int fd = kp::ConnectLocal(kPerfSocketName);
        if (fd >= 0) {
            std::lock_guard<std::mutex> lock(linkMutex_);
            if (stopping_) {
                close(fd);
                return false;
            }
            fd_ = fd;
            break;
        }
        const bool absent = fd == -ENOENT || fd == -ECONNREFUSED || fd == -EAGAIN;
        if (!absent || std::chrono::steady_clock::now() >= deadline) {
            host_.Box(Box(kp::Owner::None, "Could not open file for read", "File Exception", kp::Icon::Stop));
            host_.Box(Box(kp::Owner::None, "Run LOADMETER from Kestrel only!", "Fatal Exception", kp::Icon::Stop));
            return false;
        }
        std::this_thread::sleep_for(milliseconds(50));
    }
    return ReadPerfRequest(&record_);
}

bool Analyser::ReadPerfRequest(PerfMonData* rec) {
    PerfMonData in{};
    errno = 0;
    const kp::IoResult r = kp::ReadExact(fd_, &in, sizeof in, -1);
    const int error = errno;
    if (r == kp::IoResult::Ok) {
        // Every processor index below comes from this count.
        in.numprocessors = ClampProcessors(in.numprocessors);
        *rec = in;
        return true;
    }
    if (!stopping_) SystemErrorBox(r == kp::IoResult::Closed || error == 0 ? EPIPE : error);
    record_.end = 1;
    return false;
}

void Analyser::WritePerfReply() {
    errno = 0;
    const kp::IoResult r = kp::WriteAll(fd_, &record_, sizeof record_, -1);
    const int error = errno;
    if (r == kp::IoResult::Ok) return;
    if (!stopping_) SystemErrorBox(r == kp::IoResult::Closed || error == 0 ? EPIPE : error);
    record_.end = 1;
}

void Analyser::ServePerfRequests() {
    PerfMonData in{};
    if (!ReadPerfRequest(&in)) return;
    record_ = in;
    if (record_.end == 0) {
        sampler_->FillReply(record_);
        WritePerfReply();
    }
    sampler_->ClearProcessorSums();
}

void Analyser::CounterThread(int slot, int window, IntervalSettings settings) {
    kp::SetCurrentThreadPriority(settings.high ? 2 : 1);
    {
        std::unique_lock<std::mutex> lock(waitMutex_);
        wake_.wait(lock, [this] { return released_ || samplingStop_; });
        if (samplingStop_) return;
    }
    const int q = sampler_->QuantityOfSlot(slot);
    for (;;) {
        double value = 0.0;
        const bool taken = sampler_->TakeSample(slot, milliseconds(options_.lockWaitMs), &value);
        if (taken && settings.show && window >= 0) {
            host_.ShowCounterText(window, FormatCounterText(value, sampler_->perProcessor(), q,
                                                            sampler_->enabled(), settings.stripRight));
        }
        std::unique_lock<std::mutex> lock(waitMutex_);
        if (wake_.wait_for(lock, milliseconds(settings.periodMs), [this] { return samplingStop_; })) return;
    }
}

void Analyser::RunInterval() {
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        samplingStop_ = false;
        released_ = false;
    }
    IntervalSettings settings;
    settings.periodMs = SamplingPeriodMs(record_.countertime);
    settings.show = record_.show_graphs != 0;
    settings.high = record_.disk_test_running != 0;
    settings.stripRight = record_.indices[1];

    // The threads wait behind the gate until each is bound, to processors 1..N in turn.
    std::vector<std::thread> threads;
    int processor = 1;
    bool bound = true;
    for (int slot : slots_) {
        try {
            threads.emplace_back(&Analyser::CounterThread, this, slot, windowOfSlot_[size_t(slot)], settings);
        } catch (const std::system_error&) {
            host_.Box(Box(kp::Owner::Active, "Error Processing Counter Threads", "Loadmeter Exception",
                          kp::Icon::Exclamation));
            continue;
        }
        if (!kp::BindThreadToProcessor(threads.back().native_handle(), processor)) {
            bound = false;
            break;
        }
        processor = processor >= n_ ? 1 : processor + 1;
    }
    if (bound) {
        {
            std::lock_guard<std::mutex> lock(waitMutex_);
            released_ = true;
        }
        wake_.notify_all();
        try {
            std::thread reply([this] {
                kp::SetCurrentThreadPriority(2);
                ServePerfRequests();
            });
            reply.join();
        } catch (const std::system_error& e) {
            SystemErrorBox(e.code().value());
            stopping_ = true;
        }
    } else {
        host_.Box(Box(kp::Owner::Active, "Process Affinity Error!", "Thread Exception!", kp::Icon::Exclamation));
        stopping_ = true;
    }
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        samplingStop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads) t.join();
}

int Analyser::RunAnalyser(CounterProvider& counters, int h) {
    sampler_ = std::make_unique<Sampler>(counters, options_.clock);
    // The settings are read on a thread of lower priority; the run waits for it.
    bool connected = false;
    try {
        std::thread settings([this, &connected] {
            kp::SetCurrentThreadPriority(-1);
            connected = ConnectPerfPipe();
        });
        settings.join();
    } catch (const std::system_error& e) {
        SystemErrorBox(e.code().value());
        stopping_ = true;
    }
    if (!connected || record_.end != 0 || stopping_) {
        CloseLink();
        return 0;
    }

    n_ = record_.numprocessors;
    sampler_->Start(n_, record_.perfData);
    // One sampling thread per processor or per enabled quantity, whether windows are shown or not.
    slots_.clear();
    for (int s = 0; s < (sampler_->perProcessor() ? n_ : kQuantities); ++s) {
        if (sampler_->perProcessor() || record_.perfData[s] != 0) slots_.push_back(s);
    }
    std::fill(windowOfSlot_.begin(), windowOfSlot_.end(), -1);
    if (record_.show_graphs != 0) {
        const std::vector<CounterPlace> places =
            LayoutCounterWindows(record_, n_, h, [this](const CounterPlace& p) { return host_.CounterWindowWidth(p); });
        if (!places.empty() && !host_.CreateCounterWindows(places)) {
            stopping_ = true;
            host_.DestroyCounterWindows();
            CloseLink();
            return 0;
        }
        for (size_t i = 0; i < places.size(); ++i) windowOfSlot_[size_t(places[i].slot)] = int(i);
    }
    if (record_.disk_test_running != 0 && n_ > 1) kp::SetCurrentThreadPriority(2);

    while (record_.end == 0 && !stopping_) RunInterval();

    host_.DestroyCounterWindows();
    CloseLink();
    return 0;
}
