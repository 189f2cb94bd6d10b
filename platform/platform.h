// The few operating-system services the portable core needs. Each build links exactly one
// implementation: platform_win32.cpp (Windows) or platform_posix.cpp (Linux, for tests).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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
// Milliseconds too, from a clock that counts every one: the tick counter steps by up to 16 ms
// (Windows, and Wine), too coarse to time a wait of a few. Its own count: never compared with
// TickCount's.
uint32_t PreciseTickCount();

// Writes text to the debugger output. Tests may listen to it; the listener is called on
// the writing thread, after the text went to the debugger.
void DebugOutput(const wchar_t* text);
using DebugOutputListener = void (*)(const wchar_t* text);
void SetDebugOutputListener(DebugOutputListener listener);

// At the top of a program: the current directory leaves the search for DLLs. The default search
// stays otherwise, since plug-ins load their own helpers through it. Nothing natively.
void HardenLibrarySearch();

// The calling thread runs at the priority the audio thread has (Windows: time-critical), for a
// host process's thread that processes the audio thread's blocks. Nothing natively.
void RunAtAudioPriority();

// Dynamic modules (plug-in DLLs, shared objects natively). Null on failure. On Windows a
// module's own folder is searched first for the DLLs it needs (a relative path is taken
// against the current directory, as the caller meant it).
void* ModuleLoad(const wchar_t* path);
void* ModuleSymbol(void* module, const char* name);
void ModuleFree(void* module);

// Files named by UTF-8 paths, whatever the system's own path encoding.
std::FILE* FileOpenUtf8(const char* path, const char* mode);
// Moves from over to, replacing to if it exists. True on success.
bool FileReplaceUtf8(const char* from, const char* to);
bool FileRemoveUtf8(const char* path);

enum class OutputKind {
    File,     // a file to be replaced whole (or made), at finalPath
    Stream,   // a pipe or a device: written into as it is, never replaced
    Directory // not something to write a file over
};
// What writing to path means. A link is followed: finalPath is the file it leads to, so the
// link stays a link and its target gets the new content.
OutputKind ClassifyOutputUtf8(const char* path, std::string& finalPath);

// Calls into outside code (a plug-in) that may fault. Runs call(context) and returns 0 when it
// returned; when a hardware exception (access violation, illegal instruction, division by
// zero, stack overflow, a breakpoint) was raised inside it and not handled there, returns its
// code (the exception code on Windows, the signal number elsewhere). On Windows the frames
// between the fault and the guard are unwound first, so that their own cleanups (__finally
// blocks, handlers that give back a lock) run; elsewhere they are abandoned. Exceptions that
// call handles itself never reach the guard. Nesting is allowed.
using GuardedProc = void (*)(void* context);
uint32_t GuardedCall(GuardedProc call, void* context);
