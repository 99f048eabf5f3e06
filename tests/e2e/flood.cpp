// Opens many connections to a Unix socket at once and holds them, as a flood of
// later starts, or a crowd of them waiting on a stopped copy, would.
// usage: flood SOCKET COUNT SECONDS   (prints how many connected)
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: flood SOCKET COUNT SECONDS\n");
        return 2;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
    std::vector<int> held;
    for (int i = 0; i < std::atoi(argv[2]); ++i) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (fd < 0) break;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            continue;
        }
        held.push_back(fd);
    }
    std::printf("%zu\n", held.size());
    std::fflush(stdout);
    sleep(static_cast<unsigned>(std::atoi(argv[3])));
    for (int fd : held) close(fd);
    return 0;
}
