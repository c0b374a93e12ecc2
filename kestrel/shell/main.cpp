// kestrel: the main program. Its window comes with the program shell; until then it only says so.
#include <cstdio>

#include "platform/workers.h"

int main() {
    // Workers are created by a thread that keeps the program's start priority.
    kp::StartThreadSpawner();
    std::fputs("Kestrel 1.21: the test engine is built, but the main window is not yet;"
               " there is nothing to run.\n", stderr);
    return 0;
}
