// Linked only into the test build's korvu-sample-probe: on an entry named
// "probe" it tries, from inside the reader's work, what a hostile archive
// that took over the reader would try, and tells on standard error how each
// went. Paths come from KORVU_PROBE_WRITE and KORVU_PROBE_READ.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "fsutil.h"

namespace {

void tell(const char* what, bool done, int err) {
    std::cerr << "probe " << what << ": "
              << (done ? "ALLOWED" : std::string("blocked (") + std::strerror(err) + ")") << "\n";
}

void probe(const std::string& name) {
    if (name != "probe") return;
    const char* out = std::getenv("KORVU_PROBE_WRITE");
    int fd = out ? open(out, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600) : -1;
    tell("write", fd >= 0, errno);
    const char* secret = std::getenv("KORVU_PROBE_READ");
    char byte;
    fd = secret ? open(secret, O_RDONLY | O_CLOEXEC) : -1;
    tell("read", fd >= 0 && read(fd, &byte, 1) == 1, errno);
    pid_t pid = fork();
    if (pid == 0) _exit(0);
    if (pid > 0) waitpid(pid, nullptr, 0);
    tell("fork", pid >= 0, errno);
    char* const argv[] = {const_cast<char*>("/bin/true"), nullptr};
    execve("/bin/true", argv, environ);  // returns only when refused
    tell("exec", false, errno);
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool sent = fd >= 0 && (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ||
                            errno == ECONNREFUSED);
    tell("connect", sent, errno);
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    tell("unix-socket", fd >= 0, errno);
    // Without no_new_privs a set-user-ID program could hand out more rights.
    tell("privileges", prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) != 1, EPERM);
}

const bool installed = (korvu::g_entry_hook = probe, true);

}  // namespace
