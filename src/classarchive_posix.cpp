#include "classarchive.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "apppaths.h"
#include "procutil.h"

extern char** environ;

static bool makeFolder(const std::string& dir) {
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string userCacheFolder(const std::string& name) {
    const char* xdg = getenv("XDG_CACHE_HOME");
    std::string base;
    if (xdg != NULL && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = getenv("HOME");
        if (home == NULL || home[0] != '/') return std::string();
        base = std::string(home) + "/.cache";
        if (!makeFolder(base)) return std::string();
    }
    std::string folder = base + "/" + name;
    return makeFolder(folder) ? folder + "/" : std::string();
}

FileFacts fileFacts(const std::string& path) {
    struct stat st;
    FileFacts facts = {path, stat(path.c_str(), &st) == 0, 0, 0};
    if (facts.exists) {
        facts.size = static_cast<unsigned long long>(st.st_size);
        facts.time = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    }
    return facts;
}

std::vector<std::string> jarsIn(const std::string& dir) {
    std::vector<std::string> jars;
    DIR* folder = opendir(dir.empty() ? "." : dir.c_str());
    if (folder == NULL) return jars;
    while (struct dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && (name.compare(name.size() - 4, 4, ".jar") == 0 ||
                                name.compare(name.size() - 4, 4, ".JAR") == 0))
            jars.push_back(dir + name);
    }
    closedir(folder);
    std::sort(jars.begin(), jars.end());
    return jars;
}

bool removeFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

unsigned long processId() {
    return static_cast<unsigned long>(getpid());
}

// Standard input, output and error on /dev/null: nothing of it reaches the
// application's output or waits on its pipes.
static bool toNowhere(posix_spawn_file_actions_t& actions) {
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    return true;
}

bool startJobInBackground(const std::string& job) {
    std::string self = currentModulePath();
    if (self.empty()) return false;
    std::vector<std::string> env;
    for (char** e = environ; *e != NULL; ++e) env.push_back(*e);
    env.push_back("LAUNCHER_CLASS_ARCHIVE_JOB=" + job);
    std::vector<char*> envp;
    for (size_t i = 0; i < env.size(); ++i) envp.push_back(&env[i][0]);
    envp.push_back(NULL);
    char* argv[] = {&self[0], NULL};
    posix_spawn_file_actions_t actions;
    if (!toNowhere(actions)) return false;
    // A session of its own: a terminal's Ctrl+C or hang-up is not for it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid;
    int spawned = posix_spawn(&pid, self.c_str(), &actions, &attr, argv, &envp[0]);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0;
}

int runQuietly(const std::string& program, const std::string& commandLine, const std::string& dir) {
    // Behind every start of the application, which it must not slow: the
    // processor and the disk only when nothing else wants them (the JVM
    // inherits both).
    struct sched_param idle = sched_param();
    if (sched_setscheduler(0, SCHED_IDLE, &idle) != 0) setpriority(PRIO_PROCESS, 0, 19);
    const int ioprioWhoProcess = 1, ioprioClassIdle = 3, ioprioClassShift = 13;
    syscall(SYS_ioprio_set, ioprioWhoProcess, 0, ioprioClassIdle << ioprioClassShift);
    std::vector<std::string> args = splitCommandLine(commandLine);
    if (args.empty()) return -1;
    std::vector<char*> argv;
    for (size_t i = 0; i < args.size(); ++i) argv.push_back(&args[i][0]);
    argv.push_back(NULL);
    posix_spawn_file_actions_t actions;
    if (!toNowhere(actions)) return -1;
    if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, NULL, &argv[0], environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    pid_t waited;
    do waited = waitpid(pid, &status, 0); while (waited < 0 && errno == EINTR);
    return waited == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
