#include "posix/launcher.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>

#include <string>
#include <vector>

extern char** environ;

namespace doredaviro::posix {

namespace {

// Null until KeepEnvironmentForLaunches.
char** keptEnvironment = nullptr;

int Configure(posix_spawnattr_t& attr, posix_spawn_file_actions_t& actions,
              const std::string& directory, int errorFd) {
    sigset_t signals;
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attr, &signals);
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attr, &signals);
    int error = posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (error == 0 && errorFd >= 0) error = posix_spawn_file_actions_adddup2(&actions, errorFd, 2);
    // Also whatever this program itself inherited without close-on-exec.
    if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (error == 0 && !directory.empty()) {
        error = posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    }
    return error;
}

int Spawn(const std::string& program, char** argv, const std::string& directory, pid_t* pid,
          int errorFd) {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    if (int error = posix_spawnattr_init(&attr)) return error;
    if (int error = posix_spawn_file_actions_init(&actions)) {
        posix_spawnattr_destroy(&attr);
        return error;
    }
    int error = Configure(attr, actions, directory, errorFd);
    if (error == 0) {
        pid_t child = 0;
        // glibc reports a failed exec here, and reaps that child itself.
        error = posix_spawn(&child, program.c_str(), &actions, &attr, argv,
                            keptEnvironment ? keptEnvironment : environ);
        if (error == 0 && pid) *pid = child;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return error;
}

}  // namespace

void KeepEnvironmentForLaunches() {
    static std::vector<std::string> strings;
    static std::vector<char*> pointers;
    strings.clear();
    pointers.clear();
    for (char** e = environ; *e != nullptr; ++e) strings.emplace_back(*e);
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    keptEnvironment = pointers.data();
}

int LaunchDetached(const std::string& program, const std::string& argument,
                   const std::string& directory, pid_t* pid, int errorFd) {
    if (program.empty()) return ENOENT;
    if (program.find('\0') != std::string::npos || argument.find('\0') != std::string::npos ||
        directory.find('\0') != std::string::npos) {
        return EINVAL;
    }
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument.c_str()),
                    nullptr};
    return Spawn(program, argv, directory, pid, errorFd);
}

int StartDetached(const std::string& program, const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument.find('\0') != std::string::npos) return EINVAL;
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return Spawn(program, argv.data(), std::string(), nullptr, -1);
}

}  // namespace doredaviro::posix
