// A child process for the Shortcut runner tests.
//   stubborn_child                 ignores SIGTERM, says "ready" and sleeps up to 60 s
//   stubborn_child flood <bytes>   writes <bytes> bytes to standard output and to standard error
//   stubborn_child echo-args …     writes each argument on its own line, in brackets

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0) {
            std::_Exit(3);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void flood(std::size_t total) {
    const std::string out(64 * 1024, 'o');
    const std::string err(64 * 1024, 'e');
    for (std::size_t done = 0; done < total;) {
        const std::size_t step = std::min(out.size(), total - done);
        writeAll(STDOUT_FILENO, out.data(), step);
        writeAll(STDERR_FILENO, err.data(), step);
        done += step;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode.empty()) {
        std::signal(SIGTERM, SIG_IGN);
        writeAll(STDOUT_FILENO, "ready\n", 6);
        for (int second = 0; second < 60; ++second) {
            ::sleep(1);
        }
        return 0;
    }
    if (mode == "flood" && argc > 2) {
        flood(std::strtoull(argv[2], nullptr, 10));
        return 0;
    }
    if (mode == "echo-args") {
        for (int index = 2; index < argc; ++index) {
            const std::string line = "[" + std::string(argv[index]) + "]\n";
            writeAll(STDOUT_FILENO, line.data(), line.size());
        }
        return 0;
    }
    std::fprintf(stderr, "unknown mode\n");
    return 2;
}
