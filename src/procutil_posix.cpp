#include "procutil.h"

#include "baseutil.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ChildHandle childProcess = 0;

void prepareProcessRunner() {
    // A starter that ignores SIGCHLD passes that on to us, and then the
    // kernel reaps our children itself: waitpid fails and exit codes are lost.
    struct sigaction action;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    action.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &action, NULL);
}

void releaseChildProcess() {
    // Reap a child that was started without waiting, if it has ended.
    if (childProcess != 0) {
        waitpid(childProcess, NULL, WNOHANG);
        childProcess = 0;
    }
}

std::string findProgram(const std::string& program) {
    const char* path = getenv("PATH");
    // posix_spawnp's own default where PATH is unset.
    std::vector<std::string> candidates =
        programCandidates(program, PosixPaths, appDir, std::vector<std::string>(), path != NULL ? path : "/bin:/usr/bin");
    for (size_t i = 0; i < candidates.size(); ++i) {
        struct stat st;
        if (stat(candidates[i].c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidates[i].c_str(), X_OK) == 0)
            return candidates[i];
    }
    return std::string();
}

static int startFailed() {
    writeLine(stdout, "execute:createProcessResult==0");
    return 1;
}

int execute(const std::string& program, char* lpCommandLine, const char* lpCurrentDir, int doWait) {
    std::vector<std::string> args = splitCommandLine(lpCommandLine);
    if (args.empty()) return startFailed();
    // Found before the child's working directory applies, and never in the
    // launcher's current one; the child still sees its name as written.
    std::string executable = findProgram(program);
    if (executable.empty()) return startFailed();
    std::vector<char*> argv;
    for (size_t i = 0; i < args.size(); ++i) argv.push_back(&args[i][0]);
    argv.push_back(NULL);

    // posix_spawn starts the child without copying the launcher's page
    // tables, and reports a failed chdir or exec by its result.
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return startFailed();
    if (lpCurrentDir != NULL && posix_spawn_file_actions_addchdir_np(&actions, lpCurrentDir) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return startFailed();
    }
    flushOutput();
    pid_t pid;
    int spawned = posix_spawn(&pid, executable.c_str(), &actions, NULL, &argv[0], environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return startFailed();

    releaseChildProcess();
    childProcess = pid;
    writeLine(stdout, "execute:processId==" + std::to_string(static_cast<int>(getpid())));
    flushOutput();  // before the child's own output, which shares the stream
    if (doWait == 0) return 0;

    int status = 0;
    pid_t waited;
    do waited = waitpid(pid, &status, 0); while (waited < 0 && errno == EINTR);
    if (waited != pid) {
        writeLine(stdout, "result=WAIT_FAILED");
        return 1;
    }
    childProcess = 0;  // reaped: nothing left to release
    writeLine(stdout, "result=WAIT_OBJECT_0");
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
