// Writes the tool's bash completion to the file named by its argument; run
// by the build.
#include <cstdio>
#include <fstream>

#include "cli/bash_completion.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_completion OUTPUT\n", stderr);
        return 64;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out << cli::BashCompletion();
    out.close();
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
