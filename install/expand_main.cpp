// expand SRC DST: expands one gzip member of the distribution into DST.
// expand --compress SRC DST: makes such a member (used by the build).
#include <cstdio>
#include <cstring>

#include "install/expand_file.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--compress") == 0) return CompressFile(argv[2], argv[3]);
    if (argc == 3) return ExpandFile(argv[1], argv[2]);
    std::fprintf(stderr, "usage: expand SOURCE DESTINATION\n       expand --compress SOURCE DESTINATION\n");
    return kExpandFailed;
}
