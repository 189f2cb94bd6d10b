// The few operating-system services the portable core needs. Each build links exactly one
// implementation: platform_win32.cpp (Windows) or platform_posix.cpp (Linux, for tests).
#pragma once

#include <cstdint>
#include <cstdio>

// A recursive mutex: a thread that holds it may take it again without blocking.
// The storage is opaque so this header needs no system header.
struct PlatformLock {
    alignas(8) unsigned char storage[64];
};

void LockCreate(PlatformLock* lock);
void LockDestroy(PlatformLock* lock);
void LockEnter(PlatformLock* lock);
void LockLeave(PlatformLock* lock);

// Milliseconds of the system tick counter; wraps after about 49.7 days.
uint32_t TickCount();

// Writes text to the debugger output. Tests may listen to it; the listener is called on
// the writing thread, after the text went to the debugger.
void DebugOutput(const wchar_t* text);
using DebugOutputListener = void (*)(const wchar_t* text);
void SetDebugOutputListener(DebugOutputListener listener);

// Dynamic modules (plug-in DLLs, shared objects natively). Null on failure.
void* ModuleLoad(const wchar_t* path);
void* ModuleSymbol(void* module, const char* name);
void ModuleFree(void* module);

// Files named by UTF-8 paths, whatever the system's own path encoding.
std::FILE* FileOpenUtf8(const char* path, const char* mode);
// Moves from over to, replacing to if it exists. True on success.
bool FileReplaceUtf8(const char* from, const char* to);
bool FileRemoveUtf8(const char* path);

// Calls into outside code (a plug-in) that may fault. Runs call(context) and returns 0 when it
// returned; when a hardware exception (access violation, illegal instruction, division by
// zero, stack overflow) was raised inside it and not handled there, returns its code (the
// exception code on Windows, the signal number elsewhere) without unwinding call's frames.
// Exceptions that call handles itself never reach the guard. Nesting is allowed.
using GuardedProc = void (*)(void* context);
uint32_t GuardedCall(GuardedProc call, void* context);
