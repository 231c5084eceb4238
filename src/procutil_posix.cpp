#include "procutil.h"

#include "apppaths.h"
#include "baseutil_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ChildHandle childProcess = 0;
unsigned long childProcessId = 0;

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

std::string pathForPrograms() {
    const char* path = getenv("PATH");
    // posix_spawnp's own default where PATH is unset.
    return path != NULL ? path : "/bin:/usr/bin";
}

std::string findProgram(const std::string& program) {
    std::vector<std::string> candidates =
        programCandidates(program, PosixPaths, appDir, std::vector<std::string>(), pathForPrograms());
    for (size_t i = 0; i < candidates.size(); ++i) {
        struct stat st;
        if (stat(candidates[i].c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidates[i].c_str(), X_OK) == 0)
            return candidates[i];
    }
    return std::string();
}

// The arguments as posix_spawn takes them; args keeps their text.
static std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (size_t i = 0; i < args.size(); ++i) argv.push_back(&args[i][0]);
    argv.push_back(NULL);
    return argv;
}

// A pipe for the child's standard error where the launcher's own is
// closed: its read end, or -1 where there is none to make.
static int captureErrors(posix_spawn_file_actions_t& actions, int& writeEnd) {
    if (!childErrorsKept() || fcntl(2, F_GETFD) != -1) return -1;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;
    ends[0] = aboveStandard(ends[0]);
    ends[1] = aboveStandard(ends[1]);
    if (ends[0] < 0 || ends[1] < 0 || posix_spawn_file_actions_adddup2(&actions, ends[1], 2) != 0) {
        if (ends[0] >= 0) close(ends[0]);
        if (ends[1] >= 0) close(ends[1]);
        return -1;
    }
    writeEnd = ends[1];
    return ends[0];
}

// Passes what waits in the pipe on to the sink; false at its end.
static bool drainErrors(int pipe) {
    char buffer[4096];
    for (;;) {
        ssize_t got = read(pipe, buffer, sizeof(buffer));
        if (got > 0) {
            keepChildErrors(buffer, static_cast<size_t>(got));
            if (static_cast<size_t>(got) < sizeof(buffer)) return true;
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            return got < 0 && errno == EAGAIN;
        }
    }
}

// Waits for pid while passing on what it writes in the pipe as it comes,
// so that it never waits on a full pipe; a grandchild that keeps the pipe
// open is not waited for. Without a thread: in a static program, threads
// would bring in much of the C library.
static bool waitDraining(pid_t pid, int& status, int pipe) {
    fcntl(pipe, F_SETFL, O_NONBLOCK);
    bool open = true;
    for (;;) {
        pid_t waited = waitpid(pid, &status, open ? WNOHANG : 0);
        if (waited == pid) break;
        if (waited < 0 && errno != EINTR) {
            close(pipe);
            return false;
        }
        if (!open) continue;
        // A quarter second at the most between looks at the child.
        struct pollfd ready = {pipe, POLLIN, 0};
        if (poll(&ready, 1, 250) > 0) open = drainErrors(pipe);
    }
    if (open) drainErrors(pipe);  // its last words
    close(pipe);
    return true;
}

// Waits for pid, through interruptions by signals; false when it cannot.
static bool waitFor(pid_t pid, int& status) {
    pid_t waited;
    do waited = waitpid(pid, &status, 0); while (waited < 0 && errno == EINTR);
    return waited == pid;
}

static int startFailed(int input = -1) {
    if (input >= 0) close(input);
    writeLine(stdout, "execute:createProcessResult==0");
    return 1;
}

int execute(const std::string& program, char* lpCommandLine, const char* lpCurrentDir, int doWait, int input) {
    childProcessId = 0;  // none of this start's, until it has started
    std::vector<std::string> args = splitCommandLine(lpCommandLine);
    if (args.empty()) return startFailed(input);
    // Found before the child's working directory applies, and never in the
    // launcher's current one; the child still sees its name as written.
    std::string executable = findProgram(program);
    if (executable.empty()) return startFailed(input);
    std::vector<char*> argv = argvOf(args);

    // posix_spawn starts the child without copying the launcher's page
    // tables, and reports a failed chdir or exec by its result.
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return startFailed(input);
    if ((lpCurrentDir != NULL && posix_spawn_file_actions_addchdir_np(&actions, lpCurrentDir) != 0) ||
        (input >= 0 && posix_spawn_file_actions_adddup2(&actions, input, 0) != 0)) {
        posix_spawn_file_actions_destroy(&actions);
        return startFailed(input);
    }
    int errorEnd = -1;
    int errors = captureErrors(actions, errorEnd);
    flushOutput();
    pid_t pid;
    int spawned = posix_spawn(&pid, executable.c_str(), &actions, NULL, &argv[0], environ);
    posix_spawn_file_actions_destroy(&actions);
    if (errors >= 0) close(errorEnd);  // the child's now: the pipe ends with it
    if (input >= 0) close(input);
    if (spawned != 0) {
        if (errors >= 0) close(errors);
        return startFailed();
    }

    releaseChildProcess();
    childProcess = pid;
    childProcessId = static_cast<unsigned long>(pid);
    writeLine(stdout, "execute:processId==" + std::to_string(static_cast<int>(getpid())));
    flushOutput();  // before the child's own output, which shares the stream
    childHasStarted();
    if (doWait == 0) {
        if (errors >= 0) close(errors);
        return 0;
    }

    int status = 0;
    childWindowsStarted(childProcessId);
    bool waited = errors >= 0 ? waitDraining(pid, status, errors) : waitFor(pid, status);
    childWindowsEnded();
    if (!waited) {
        writeLine(stdout, "result=WAIT_FAILED");
        return 1;
    }
    childProcess = 0;  // reaped: nothing left to release
    writeLine(stdout, "result=WAIT_OBJECT_0");
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

// Standard input, output and error on /dev/null: nothing of it reaches the
// application's output or waits on its pipes.
static bool toNowhere(posix_spawn_file_actions_t& actions) {
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    return true;
}

std::string startSelfInBackground(const std::string& name, const std::string& value, const std::string& dir) {
    const std::string cannot = "the launcher cannot start again to make it";
    std::string self = currentModulePath();
    if (self.empty()) return cannot;
    std::vector<std::string> env;
    for (char** e = environ; *e != NULL; ++e) env.push_back(*e);
    env.push_back(name + "=" + value);
    std::vector<char*> envp = argvOf(env);
    std::vector<std::string> args(1, self);
    std::vector<char*> argv = argvOf(args);
    posix_spawn_file_actions_t actions;
    if (!toNowhere(actions)) return cannot;
    if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    // A session of its own: a terminal's Ctrl+C or hang-up is not for it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid;
    int spawned = posix_spawn(&pid, self.c_str(), &actions, &attr, &argv[0], &envp[0]);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? std::string() : cannot;
}

int runQuietly(const std::string& program, const std::string& commandLine, const std::string& dir,
               bool (*giveWay)()) {
    // The processor and the disk only when nothing else wants them.
    struct sched_param idle = sched_param();
    if (sched_setscheduler(0, SCHED_IDLE, &idle) != 0) setpriority(PRIO_PROCESS, 0, 19);
    const int ioprioWhoProcess = 1, ioprioClassIdle = 3, ioprioClassShift = 13;
    syscall(SYS_ioprio_set, ioprioWhoProcess, 0, ioprioClassIdle << ioprioClassShift);
    std::vector<std::string> args = splitCommandLine(commandLine);
    if (args.empty()) return -1;
    std::vector<char*> argv = argvOf(args);
    posix_spawn_file_actions_t actions;
    if (!toNowhere(actions)) return -1;
    if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, NULL, &argv[0], environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    for (;;) {
        pid_t waited = waitpid(pid, &status, WNOHANG);
        if (waited == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (waited < 0 && errno != EINTR) return -1;
        if (giveWay()) {
            kill(pid, SIGKILL);
            waitFor(pid, status);
            return RUN_GAVE_WAY;
        }
        sleepMilliseconds(QUIET_POLL_MS);
    }
}

unsigned long processId() {
    return static_cast<unsigned long>(getpid());
}

bool processRunning(unsigned long pid) {
    return pid != 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

std::string resolvedProgram(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) != NULL ? std::string(buf) : path;
}

unsigned nativeMachine() {
    return 0;  // a program for another processor fails to start, as any would
}
