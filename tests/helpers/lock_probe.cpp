// Takes the single-copy lock as the program does and says whether it got it;
// holds it for the given milliseconds before ending.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "posix/instance_lock.h"

int main(int argc, char* argv[]) {
    const bool other = doredaviro::posix::AnotherInstanceRuns();
    printf("%s\n", other ? "refused" : "acquired");
    fflush(stdout);
    if (!other && argc > 1) usleep(1000u * static_cast<unsigned>(atoi(argv[1])));
    return other ? 1 : 0;
}
