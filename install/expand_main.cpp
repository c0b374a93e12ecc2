// expand [-m MODE] SRC DST: expands one gzip member of the distribution into DST, with the
// permission bits MODE (octal; 0644 when not given), less the umask.
// expand --compress SRC DST: makes such a member (used by the build).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "install/expand_file.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--compress") == 0) return CompressFile(argv[2], argv[3]);
    if (argc == 3) return ExpandFile(argv[1], argv[2], kDataFileMode);
    if (argc == 5 && std::strcmp(argv[1], "-m") == 0) {
        char* end = nullptr;
        const unsigned long mode = std::strtoul(argv[2], &end, 8);
        if (argv[2][0] != '\0' && *end == '\0' && mode <= 07777) return ExpandFile(argv[3], argv[4], mode_t(mode));
    }
    std::fprintf(stderr,
                 "usage: expand [-m MODE] SOURCE DESTINATION\n       expand --compress SOURCE DESTINATION\n");
    return kExpandFailed;
}
