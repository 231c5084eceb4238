/* The least any launcher must do: start argv[1..] as one child, wait for it
   and pass its exit code on. Built twice: with posix_spawn (the cheapest way
   glibc offers, and the way the launcher starts its child) and with FORK_EXEC
   defined, the way it once did, for comparison. */
#include <sys/wait.h>
#include <unistd.h>
#ifndef FORK_EXEC
#include <spawn.h>
extern char **environ;
#endif

int main(int argc, char **argv) {
    pid_t pid;
    int status;
    if (argc < 2) return 2;
#ifdef FORK_EXEC
    pid = fork();
    if (pid == 0) {
        execv(argv[1], argv + 1);
        _exit(127);
    }
    if (pid < 0) return 1;
#else
    if (posix_spawn(&pid, argv[1], NULL, NULL, argv + 1, environ) != 0) return 1;
#endif
    if (waitpid(pid, &status, 0) != pid) return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
