#pragma once
// Starts a simulator as a child process for a test, its standard output on a pipe.

#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// Runs arguments[0] with the given arguments and this process's environment. Returns
// the child's pid (-1 when it could not start); `output` receives the read end of its
// standard output (close-on-exec), or -1.
inline pid_t SpawnWithOutput(std::vector<std::string> arguments, int& output) {
    output = -1;
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    output = pipeEnds[0];
    return pid;
}
