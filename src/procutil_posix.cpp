#include "procutil.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

ChildHandle childProcess = 0;

void releaseChildProcess() {
    // Reap a child that was started without waiting, if it has ended.
    if (childProcess != 0) {
        waitpid(childProcess, NULL, WNOHANG);
        childProcess = 0;
    }
}

static int startFailed() {
    printf("execute:createProcessResult==%d\n", 0);
    return 1;
}

int execute(char* lpCommandLine, const char* lpCurrentDir, int doWait) {
    std::vector<std::string> args = splitCommandLine(lpCommandLine);
    if (args.empty() || args[0].empty()) return startFailed();
    std::vector<char*> argv;
    for (size_t i = 0; i < args.size(); ++i) argv.push_back(&args[i][0]);
    argv.push_back(NULL);

    // The child reports a failed chdir or exec through this pipe; a
    // successful exec closes it without a word.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return startFailed();
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        if (lpCurrentDir == NULL || chdir(lpCurrentDir) == 0) execvp(argv[0], &argv[0]);
        int err = errno;
        ssize_t ignored = write(report[1], &err, sizeof(err));
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        return startFailed();
    }
    int err = 0;
    ssize_t got;
    do got = read(report[0], &err, sizeof(err)); while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got > 0) {
        waitpid(pid, NULL, 0);
        return startFailed();
    }

    releaseChildProcess();
    childProcess = pid;
    printf("execute:processId==%d\n", static_cast<int>(getpid()));
    fflush(stdout);  // before the child's own output, which shares the stream
    if (doWait == 0) return 0;

    int status = 0;
    pid_t waited;
    do waited = waitpid(pid, &status, 0); while (waited < 0 && errno == EINTR);
    if (waited != pid) {
        puts("result=WAIT_FAILED");
        return 1;
    }
    childProcess = 0;  // reaped: nothing left to release
    puts("result=WAIT_OBJECT_0");
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
