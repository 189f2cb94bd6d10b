// Child processes: a plug-in's host process, started, watched and ended by its caller. Every
// wait here has a limit, so a caller never blocks for good on a child that hangs.
#pragma once

#include <cstdint>
#include <string>

struct ChildProcess {
    intptr_t handle = 0; // the process (Windows); 0 when none
    intptr_t job = 0;    // Windows: the job that ends the child when its caller ends
    int32_t id = 0;      // the process id; 0 when none
    bool reaped = false; // its end was collected (status below)
    int32_t status = 0;  // POSIX: the raw wait status once reaped
};

enum class ProcessEndKind {
    Running,
    Exited, // code: its exit code
    Crashed // code: the exception code (Windows) or the signal number
};
struct ProcessEnd {
    ProcessEndKind kind;
    uint32_t code;
};

// Starts program (a UTF-8 path) with args (UTF-8, the program's own name not among them).
// False, with nothing started, when it cannot be started.
bool ProcessStart(ChildProcess* child, const char* program, const char* const* args, int argCount);
// Waits at most ms for the child's end; true once it has ended (ms 0: a look).
bool ProcessWait(ChildProcess* child, uint32_t ms);
// How it ended; Running while it has not (or was never waited for).
ProcessEnd ProcessResult(const ChildProcess* child);
// How it ended, looked at without collecting it and without writing anything: safe on one
// thread while another waits for or ends the same child. Running while it runs.
ProcessEnd ProcessLook(const ChildProcess* child);
// Ends the child if it still runs and waits (within a limit) for its end.
void ProcessKill(ChildProcess* child);
// Closes what the caller held of the child (after its end, or to leave it to itself).
void ProcessRelease(ChildProcess* child);

uint32_t CurrentProcessId();
// The running program's folder (UTF-8, no separator at the end): where its host programs are.
std::string ProgramFolderUtf8();

// In a host process, first thing: this process ends by itself as soon as the process callerId
// ends (or at once when that has ended already), whatever state its own threads are in.
void EndWithCaller(uint32_t callerId);
