#include "singleinstance.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "apppaths.h"
#include "baseutil_posix.h"

// The instance is a lock on a file; the channel a Unix socket beside it.
// Both live in $XDG_RUNTIME_DIR, which only the user can enter, else in
// the user's state folder, where the socket is the user's alone and each
// caller's user is checked.
static std::string lockPath, socketPath;
static int lockFd = -1, listenFd = -1, wakeFds[2] = {-1, -1};
static pthread_t server;

// Shared with the serving thread.
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static std::string queue;        // requests that the application has not been given
static bool cut = false;         // the last write ended inside queue's first line
static int appWrite = -1;        // the application's input while it runs
static int pendingWrite = -1;    // made for its next start
static std::vector<int> retired; // inputs of applications that have ended
static unsigned long appPid = 0;
static bool stopping = false;

static bool privateFolder(const char* dir) {
    struct stat st;
    return dir != NULL && dir[0] == '/' && stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 077) == 0;
}

// The socket's address: its path, or where that is too long for one (a
// long home folder), the same file reached through a descriptor of its
// folder.
static std::string socketAddress;

static bool placeNames(std::string& why) {
    if (!lockPath.empty()) return true;
    std::string self = currentModulePath();
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    std::string dir = privateFolder(runtime) ? std::string(runtime) + "/" : userStateFolder(launcherName(exeFileName));
    if (self.empty() || dir.empty()) {
        why = "there is no private folder of the user's for it";
        return false;
    }
    std::string name = instanceName(launcherName(exeFileName), self, std::to_string(geteuid()));
    socketAddress = dir + name + ".sock";
    if (socketAddress.size() >= sizeof(sockaddr_un().sun_path)) {
        int folder = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) folder = aboveStandard(folder);
        socketAddress = "/proc/self/fd/" + std::to_string(folder) + "/" + name + ".sock";
        if (folder < 0 || socketAddress.size() >= sizeof(sockaddr_un().sun_path)) {
            why = "the path of its socket is too long: " + dir + name + ".sock";
            return false;
        }
    }
    lockPath = dir + name + ".lock";
    socketPath = dir + name + ".sock";
    return true;
}

static sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return address;
}

InstanceClaim claimInstance(std::string& why) {
    if (!placeNames(why)) return InstanceUnavailable;
    int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        why = "cannot open " + lockPath + ": " + std::strerror(errno);
        return InstanceUnavailable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        lockFd = aboveStandard(fd);
        return InstanceClaimed;
    }
    int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return InstanceHeld;
    why = "cannot lock " + lockPath + ": " + std::strerror(error);
    return InstanceUnavailable;
}

static void wakeServer() {
    ssize_t ignored = write(wakeFds[1], "x", 1);
    (void)ignored;
}

// Waits until fd is ready for events or the time is up.
static bool ready(int fd, short events, long long until) {
    for (;;) {
        long long left = until - steadyMilliseconds();
        if (left <= 0) return false;
        struct pollfd p = {fd, events, 0};
        int n = poll(&p, 1, static_cast<int>(left));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

static bool sendAll(int fd, const std::string& bytes, long long until) {
    for (size_t sent = 0; sent < bytes.size();) {
        if (!ready(fd, POLLOUT, until)) return false;
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) sent += static_cast<size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    }
    return true;
}

// Up to a line feed, the end, or more than limit bytes.
static std::string receiveLine(int fd, size_t limit, long long until) {
    std::string got;
    char buffer[4096];
    while (got.size() <= limit && (got.empty() || got[got.size() - 1] != '\n') && ready(fd, POLLIN, until)) {
        ssize_t n = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n == 0) break;
        if (n > 0) got.append(buffer, static_cast<size_t>(n));
        else if (errno != EAGAIN && errno != EINTR) break;
    }
    return got;
}

// Whether the other end of a connection is this user's.
static bool peerIsUser(int fd) {
    struct ucred peer;
    socklen_t size = sizeof(peer);
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == geteuid();
}

static void serveClient(int client) {
    if (!peerIsUser(client)) {
        writeLine(stdout, "requestDropped=from another user");
        return;
    }
    long long until = steadyMilliseconds() + 2000;
    std::string received = receiveLine(client, REQUEST_LIMIT, until);
    pthread_mutex_lock(&lock);
    std::string answer = takeRequest(received, queue, appPid);
    pthread_mutex_unlock(&lock);
    if (answer.empty() || sendAll(client, answer, until)) return;
    pthread_mutex_lock(&lock);
    withdrawRequest(queue, received, answer);
    pthread_mutex_unlock(&lock);
}

// Drops the rest of a line that an application took only in part: the
// next one would read it as a request of its own.
static void dropCutLine() {
    if (cut) queue.erase(0, bytesDone(queue, 1));
    cut = false;
}

static void* serve(void*) {
    // A write into the input of an application that has ended fails with
    // EPIPE; the signal that comes with it is kept from the launcher.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, NULL);
    for (;;) {
        pthread_mutex_lock(&lock);
        for (size_t i = 0; i < retired.size(); ++i) close(retired[i]);
        if (!retired.empty()) dropCutLine();
        retired.clear();
        if (stopping) {
            if (!queue.empty())
                writeLine(stdout, "requestsNotRead=" + std::to_string(queue.size()) + " bytes: the application has ended");
            pthread_mutex_unlock(&lock);
            return NULL;
        }
        int output = !queue.empty() ? appWrite : -1;
        pthread_mutex_unlock(&lock);

        struct pollfd fds[3] = {{listenFd, POLLIN, 0}, {wakeFds[0], POLLIN, 0}, {output, POLLOUT, 0}};
        if (poll(fds, output >= 0 ? 3 : 2, -1) < 0) continue;
        if (fds[1].revents != 0) {
            char drained[64];
            while (read(wakeFds[0], drained, sizeof(drained)) > 0) {
            }
        }
        if (output >= 0 && fds[2].revents != 0) {
            pthread_mutex_lock(&lock);
            ssize_t n = appWrite == output ? write(output, queue.data(), queue.size()) : 0;
            if (n > 0) {
                cut = queue[n - 1] != '\n';
                queue.erase(0, static_cast<size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                // It has ended or closed its input: the rest waits for its next start.
                retired.push_back(appWrite);
                appWrite = -1;
                siginfo_t info;
                struct timespec none = {0, 0};
                sigtimedwait(&pipeSignal, &info, &none);
            }
            pthread_mutex_unlock(&lock);
        }
        if (fds[0].revents != 0) {
            int client = accept4(listenFd, NULL, NULL, SOCK_CLOEXEC);
            if (client >= 0) {
                serveClient(client);
                close(client);
            }
        }
    }
}

// The socket goes before the lock: a start after it finds neither.
static void letGo() {
    if (listenFd >= 0) close(listenFd);
    listenFd = -1;
    unlink(socketPath.c_str());
    close(lockFd);
    lockFd = -1;
}

// Without a channel the instance is let go: a later start would wait in
// vain for an answer.
static std::string notOpened(const std::string& why) {
    letGo();
    return why;
}

std::string openRequests() {
    listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = addressOf(socketAddress);
    // What a copy that crashed left behind: the lock is ours now.
    unlink(socketPath.c_str());
    mode_t mask = umask(077);
    bool bound = listenFd >= 0 && bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    umask(mask);
    if (!bound || listen(listenFd, 16) != 0 || pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return notOpened("cannot open " + socketPath + ": " + std::strerror(errno));
    listenFd = aboveStandard(listenFd);
    wakeFds[0] = aboveStandard(wakeFds[0]);
    wakeFds[1] = aboveStandard(wakeFds[1]);
    if (pthread_create(&server, NULL, serve, NULL) != 0) return notOpened("cannot start a thread to take requests");
    writeLine(stdout, "singleInstance=" + socketPath);
    return std::string();
}

ChildInput requestInput() {
    if (listenFd < 0) return NO_CHILD_INPUT;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return NO_CHILD_INPUT;
    ends[0] = aboveStandard(ends[0]);
    ends[1] = aboveStandard(ends[1]);
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    pthread_mutex_lock(&lock);
    if (pendingWrite >= 0) close(pendingWrite);
    pendingWrite = ends[1];
    pthread_mutex_unlock(&lock);
    return ends[0];
}

static void appStarted(unsigned long pid) {
    if (listenFd < 0) return;
    pthread_mutex_lock(&lock);
    if (pendingWrite >= 0) {
        appWrite = pendingWrite;
        pendingWrite = -1;
        appPid = pid;
    }
    pthread_mutex_unlock(&lock);
    wakeServer();
}

static void appEnded() {
    if (listenFd < 0) return;
    pthread_mutex_lock(&lock);
    if (appWrite >= 0) retired.push_back(appWrite);
    appWrite = -1;
    appPid = 0;
    pthread_mutex_unlock(&lock);
    wakeServer();
}

const ChildDesktop singleInstanceDesktop = {NULL, appStarted, appEnded};

void releaseSingleInstance() {
    if (listenFd < 0) return;
    pthread_mutex_lock(&lock);
    stopping = true;
    pthread_mutex_unlock(&lock);
    wakeServer();
    pthread_join(server, NULL);
    letGo();
}

std::vector<std::string> ownRequestFields() {
    std::vector<std::string> fields;
    char cwd[4096];
    fields.push_back(getcwd(cwd, sizeof(cwd)) != NULL ? cwd : "");
    // The arguments exactly as given, whatever their bytes.
    std::vector<char> bytes;
    int readError = 0;
    readFileBytes("/proc/self/cmdline", bytes, readError);
    std::vector<std::string> args = splitAt(std::string(bytes.begin(), bytes.end()), '\0');
    // Each argument ends with a NUL: the last piece is empty.
    for (size_t i = 1; i + 1 < args.size(); ++i) fields.push_back(args[i]);
    return fields;
}

Exchange exchangeRequest(const std::string& request, int waitMs, std::string& answer, std::string& why) {
    long long until = steadyMilliseconds() + waitMs;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = addressOf(socketAddress);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        int error = errno;
        if (fd >= 0) close(fd);
        why = std::strerror(error);
        if (error == EACCES || error == EPERM) return ExchangeRefused;
        return ExchangeNoChannel;
    }
    if (!peerIsUser(fd)) {
        close(fd);
        why = "the socket " + socketPath + " is another user's";
        return ExchangeRefused;
    }
    bool sent = sendAll(fd, request, until);
    answer = sent ? receiveLine(fd, 64, until) : std::string();
    close(fd);
    if (!answer.empty() && answer[answer.size() - 1] == '\n') return ExchangeAnswered;
    why = sent ? "it took the request but did not answer" : "it did not take the request";
    return ExchangeSilent;
}

void raiseApplication(unsigned long) {
    // The application raises its own window when it reads the request.
}
