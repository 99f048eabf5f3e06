// Replaces itself with the program given, having put the monotonic time of
// that moment in BENCH_T0_NS, so the program can tell how long it took to come up.
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <string>

int main(int argc, char* argv[]) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    setenv("BENCH_T0_NS", std::to_string(ns).c_str(), 1);
    execv(argv[1], argv + 1);
    perror(argv[1]);
    return 127;
}
