#include "shared/ui/program_start.h"

#include <cstdlib>

void ChooseX11WhenDisplayed() {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0' && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
}
