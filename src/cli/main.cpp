#include <cstdio>
#include <cstring>

#include "core/Version.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("line-tarvel-cli %s\n", tarvel::kVersion);
        return 0;
    }
    return 2;
}
