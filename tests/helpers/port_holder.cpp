// A stand-in for a running agent in the single-instance tests: holds a listening TCP socket.
//   port_holder <port> [ignore-term]
// Binds 0.0.0.0:<port> (0 picks a free port), listens, prints the port number and a newline on
// standard output, then sleeps until killed. With "ignore-term" it ignores SIGTERM.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (argc > 2 && std::strcmp(argv[2], "ignore-term") == 0) std::signal(SIGTERM, SIG_IGN);

    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 4) != 0) {
        std::perror("port_holder");
        return 1;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("%u\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) pause();
}
