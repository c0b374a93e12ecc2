// The message-box service: every failure, question and notice of the suite goes through it.
//
// Programs install a backend that shows a modal box (QMessageBox); tests install a recorder, or
// set KESTREL_TEST_MSGBOX_LOG=<file> so that every box is appended to that file and answered with
// its default button (child programs started by a test inherit the switch, so no box ever waits
// for a person). With neither, the box is written to standard error and answered by default.
//
// A shared library of the suite loaded into a program shows its boxes through the program's
// service (see KestrelMessageBox below).
//
// A box asked for on a thread other than the user-interface thread is never shown from there:
// it is queued, answered with its default button at once, and shown by the user-interface thread
// when it runs the deferred actions (platform/ui_thread.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui_thread.h"

namespace kp {

enum class Icon { None, Exclamation, Stop, Question, Information };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };
// Which window owns the box; the program's backend maps it to a widget.
enum class Owner { None, Main, Progress, Active };

struct BoxRequest {
    Owner owner = Owner::Main;
    std::string text;
    std::string caption;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    int defaultButton = 0;  // index into the buttons of the set, 0 = first
};

// The answer a box gives when nobody is asked: its default button.
Answer DefaultAnswer(const BoxRequest& box);

using BoxBackend = std::function<Answer(const BoxRequest&)>;
// Installs the backend of the program (nullptr restores the built-in one). Returns the old one.
BoxBackend SetMessageBoxBackend(BoxBackend backend);

// Shows a box and returns the answer. Safe to call from any thread (see above).
Answer MessageBox(const BoxRequest& box);
Answer MessageBox(Owner owner, const std::string& text, const std::string& caption,
                  Icon icon = Icon::Exclamation, Buttons buttons = Buttons::Ok);

// A recorder for tests: records every box and answers from a script (then by default).
class BoxRecorder {
public:
    BoxRecorder();   // installs itself as the backend
    ~BoxRecorder();  // restores the previous backend
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    void Script(std::vector<Answer> answers) { script_ = std::move(answers); }
    const std::vector<BoxRequest>& boxes() const { return boxes_; }
    void Clear() { boxes_.clear(); }

private:
    Answer Record(const BoxRequest& box);
    std::vector<BoxRequest> boxes_;
    std::vector<Answer> script_;
    BoxBackend previous_;
};

}  // namespace kp

// The service as the programs export it to the suite's shared libraries (whose own copies of
// this code forward their boxes here). Programs export it with kestrel_program() in CMake.
extern "C" int KestrelMessageBox(int owner, const char* text, const char* caption, int icon,
                                 int buttons, int defaultButton);
