#include "platform/msgbox.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/testswitch.h"

namespace kp {
namespace {

std::mutex g_mutex;  // guards the backend
BoxBackend g_backend;

const char* IconName(Icon icon) {
    switch (icon) {
        case Icon::Exclamation: return "exclamation";
        case Icon::Stop: return "stop";
        case Icon::Question: return "question";
        case Icon::Information: return "information";
        case Icon::None: break;
    }
    return "none";
}

const char* AnswerName(Answer a) {
    switch (a) {
        case Answer::Ok: return "ok";
        case Answer::Cancel: return "cancel";
        case Answer::Yes: return "yes";
        case Answer::No: return "no";
    }
    return "?";
}

// Without a backend: the test log when the switch is set, else standard error.
Answer BuiltIn(const BoxRequest& box) {
    Answer a = DefaultAnswer(box);
    std::string log = TestMessageBoxLog();
    FILE* f = log.empty() ? stderr : std::fopen(log.c_str(), "a");
    if (f != nullptr) {
        std::fprintf(f, "[%s] (%s) %s -> %s\n", box.caption.c_str(), IconName(box.icon),
                     box.text.c_str(), AnswerName(a));
        if (f != stderr) std::fclose(f);
    }
    return a;
}

}  // namespace

Answer DefaultAnswer(const BoxRequest& box) {
    static const Answer kOk[] = {Answer::Ok};
    static const Answer kOkCancel[] = {Answer::Ok, Answer::Cancel};
    static const Answer kYesNo[] = {Answer::Yes, Answer::No};
    static const Answer kYesNoCancel[] = {Answer::Yes, Answer::No, Answer::Cancel};
    const Answer* set = kOk;
    int n = 1;
    switch (box.buttons) {
        case Buttons::Ok: break;
        case Buttons::OkCancel: set = kOkCancel; n = 2; break;
        case Buttons::YesNo: set = kYesNo; n = 2; break;
        case Buttons::YesNoCancel: set = kYesNoCancel; n = 3; break;
    }
    int i = box.defaultButton;
    if (i < 0 || i >= n) i = 0;
    return set[i];
}

BoxBackend SetMessageBoxBackend(BoxBackend backend) {
    std::lock_guard<std::mutex> lock(g_mutex);
    BoxBackend old = std::move(g_backend);
    g_backend = std::move(backend);
    return old;
}

namespace {

using ProgramBoxFn = int (*)(int, const char*, const char*, int, int, int);

// The service of the program this code is loaded into, when this copy is not the program's own
// (a shared library of the suite carries its own copy, but its boxes belong to the program).
ProgramBoxFn ProgramService() {
    static const ProgramBoxFn fn = [] {
        auto found = reinterpret_cast<ProgramBoxFn>(dlsym(RTLD_DEFAULT, "KestrelMessageBox"));
        return found == &KestrelMessageBox ? nullptr : found;
    }();
    return fn;
}

}  // namespace

Answer MessageBox(const BoxRequest& box) {
    if (ProgramBoxFn program = ProgramService()) {
        return Answer(program(int(box.owner), box.text.c_str(), box.caption.c_str(), int(box.icon),
                              int(box.buttons), box.defaultButton));
    }
    if (!OnUiThread()) {
        DeferToUiThread([box] { MessageBox(box); });
        return DefaultAnswer(box);
    }
    BoxBackend backend;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        backend = g_backend;
    }
    return backend ? backend(box) : BuiltIn(box);
}

Answer MessageBox(Owner owner, const std::string& text, const std::string& caption, Icon icon,
                  Buttons buttons) {
    BoxRequest box;
    box.owner = owner;
    box.text = text;
    box.caption = caption;
    box.icon = icon;
    box.buttons = buttons;
    return MessageBox(box);
}

BoxRecorder::BoxRecorder() {
    previous_ = SetMessageBoxBackend([this](const BoxRequest& box) { return Record(box); });
}

BoxRecorder::~BoxRecorder() { SetMessageBoxBackend(std::move(previous_)); }

Answer BoxRecorder::Record(const BoxRequest& box) {
    boxes_.push_back(box);
    if (!script_.empty()) {
        Answer a = script_.front();
        script_.erase(script_.begin());
        return a;
    }
    return DefaultAnswer(box);
}

}  // namespace kp

extern "C" __attribute__((visibility("default"))) int KestrelMessageBox(
    int owner, const char* text, const char* caption, int icon, int buttons, int defaultButton) {
    kp::BoxRequest box;
    box.owner = kp::Owner(owner);
    box.text = text != nullptr ? text : "";
    box.caption = caption != nullptr ? caption : "";
    box.icon = kp::Icon(icon);
    box.buttons = kp::Buttons(buttons);
    box.defaultButton = defaultButton;
    return int(kp::MessageBox(box));
}
