// A shared library of the suite in miniature: its boxes must reach the program's service.
#include "platform/msgbox.h"

extern "C" __attribute__((visibility("default"))) int ForwardBox(const char* text) {
    return int(kp::MessageBox(kp::Owner::Active, text, "Performance Exception", kp::Icon::Exclamation,
                              kp::Buttons::OkCancel));
}
