#pragma once

// Raises an access violation and handles it inside the effect, as real plug-ins do when they
// probe memory or processor features; true when it was handled (always true off Windows,
// where nothing is raised).
bool RaiseAndHandleOwnFault();

// Takes the process heap's lock, then writes through a null pointer without handling it. With
// releaseOnUnwind the lock is given back by a handler of the faulting frame when the frame is
// unwound (as a __finally block would): only a host that unwinds before it resumes gets the
// heap back. Off Windows there is no such lock: it only faults.
void LockHeapThenFault(bool releaseOnUnwind);

// Never returns: takes the process heap's lock, then waits for a thread of its own that needs
// the heap. Off Windows there is no such lock: it only hangs.
void DeadlockOnHeapLock();

// A breakpoint instruction left in, with no debugger to take it.
void Breakpoint();
