#include "platform/child_process.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int MAX_ARGS = 16;
constexpr int EXEC_FAILED = 127;
constexpr uint32_t KILL_WAIT_MS = 5000;
constexpr long POLL_NS = 1000000; // 1 ms between looks at a running child

bool Reap(ChildProcess* child, int flags) {
    if (child->reaped) {
        return true;
    }
    int status = 0;
    const pid_t got = waitpid(child->id, &status, flags);
    if (got == child->id) {
        child->reaped = true;
        child->status = status;
    } else if (got < 0 && errno == ECHILD) {
        child->reaped = true; // collected elsewhere: ended, how is not known
    }
    return child->reaped;
}

void SleepNs(long ns) {
    timespec pause = {0, ns};
    nanosleep(&pause, nullptr);
}

} // namespace

bool ProcessStart(ChildProcess* child, const char* program, const char* const* args, int argCount) {
    *child = ChildProcess{};
    if (argCount < 0 || argCount + 2 > MAX_ARGS || access(program, X_OK) != 0) {
        return false;
    }
    // Everything the child needs is made before the fork: after it, only calls that are safe
    // in a copy of a threaded process.
    char* argv[MAX_ARGS] = {};
    argv[0] = const_cast<char*>(program);
    for (int i = 0; i < argCount; ++i) {
        argv[i + 1] = const_cast<char*>(args[i]);
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        // Killed with the thread that started it, and not started at all if the caller is
        // already gone. The host process checks again itself (EndWithCaller).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(EXEC_FAILED);
        }
#ifdef SYS_close_range
        // Nothing of the caller's open files goes along (a pipe it writes would stay open).
        syscall(SYS_close_range, 3u, ~0u, 0u);
#endif
        execv(program, argv);
        _exit(EXEC_FAILED);
    }
    child->id = pid;
    return true;
}

bool ProcessWait(ChildProcess* child, uint32_t ms) {
    if (child->id == 0) {
        return true;
    }
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (!Reap(child, WNOHANG)) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t spent =
            (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (spent >= static_cast<int64_t>(ms)) {
            return false;
        }
        SleepNs(POLL_NS);
    }
    return true;
}

ProcessEnd ProcessResult(const ChildProcess* child) {
    if (!child->reaped) {
        return {ProcessEndKind::Running, 0};
    }
    if (WIFSIGNALED(child->status)) {
        return {ProcessEndKind::Crashed, static_cast<uint32_t>(WTERMSIG(child->status))};
    }
    return {ProcessEndKind::Exited, static_cast<uint32_t>(WEXITSTATUS(child->status))};
}

ProcessEnd ProcessLook(const ChildProcess* child) {
    siginfo_t info = {};
    if (child->id == 0) {
        return {ProcessEndKind::Exited, 0};
    }
    if (waitid(P_PID, static_cast<id_t>(child->id), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return {ProcessEndKind::Exited, 0}; // collected by another thread meanwhile: it ended
    }
    if (info.si_pid != child->id) {
        return {ProcessEndKind::Running, 0};
    }
    return {info.si_code == CLD_EXITED ? ProcessEndKind::Exited : ProcessEndKind::Crashed,
            static_cast<uint32_t>(info.si_status)};
}

void ProcessKill(ChildProcess* child) {
    if (child->id != 0 && !Reap(child, WNOHANG)) {
        kill(child->id, SIGKILL);
        ProcessWait(child, KILL_WAIT_MS);
    }
}

void ProcessRelease(ChildProcess* child) {
    *child = ChildProcess{};
}

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

std::string ProgramFolderUtf8() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    const std::string program(path, static_cast<size_t>(n));
    const size_t slash = program.rfind('/');
    return slash == std::string::npos ? "." : program.substr(0, slash);
}

namespace {

pid_t watchedCaller = 0;

// The kernel's parent-death signal comes with the end of the thread that started this process,
// which may be earlier than the caller's end but never later; this look covers a caller that
// ended before the signal was asked for.
void* WatchCaller(void*) {
    while (getppid() == watchedCaller) {
        SleepNs(100 * POLL_NS);
    }
    _exit(EXEC_FAILED);
}

} // namespace

void EndWithCaller(uint32_t callerId) {
    watchedCaller = static_cast<pid_t>(callerId);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != watchedCaller) {
        _exit(EXEC_FAILED);
    }
    pthread_t watcher;
    if (pthread_create(&watcher, nullptr, WatchCaller, nullptr) == 0) {
        pthread_detach(watcher);
    }
}
