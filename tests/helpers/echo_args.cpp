// Writes each argument on a line of its own, in brackets, for the Shortcuts tool tests.

#include <cstdio>

int main(int argc, char** argv) {
    for (int index = 1; index < argc; ++index) std::printf("[%s]\n", argv[index]);
}
