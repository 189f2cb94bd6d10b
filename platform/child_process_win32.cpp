#include "platform/child_process.h"

#include <windows.h>

#include <string>

namespace {

constexpr uint32_t KILL_WAIT_MS = 5000;
constexpr UINT KILLED_CODE = 1;
constexpr DWORD FIRST_EXCEPTION_CODE = 0x80000000u; // exit codes from here on are exceptions
constexpr int START_ATTEMPTS = 3;
constexpr DWORD START_RETRY_MS = 100;

std::wstring Wide(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<size_t>(n) : 1u, L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], n);
    }
    out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0u);
    return out;
}

// One argument as the child's runtime splits its command line back: quoted, with the
// backslashes before a quote (and before the closing quote) doubled.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
    line += L'"';
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

HANDLE AsHandle(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// A job that ends its processes when its last handle closes, which the system does when the
// caller ends however it ends. Null when jobs are refused here (the host's own watch remains).
HANDLE MakeJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job != nullptr &&
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        job = nullptr;
    }
    return job;
}

} // namespace

bool ProcessStart(ChildProcess* child, const char* program, const char* const* args, int argCount) {
    *child = ChildProcess{};
    const std::wstring path = Wide(program);
    std::wstring line;
    AppendQuoted(line, path);
    for (int i = 0; i < argCount; ++i) {
        line += L' ';
        AppendQuoted(line, Wide(args[i]));
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // Suspended until it is in its job; no console (a hidden one costs a console host process
    // at every start, and nobody reads it), no handle inherited. A start refused once is asked
    // again: Wine on a loaded machine once refused the eighth of eight hosts started in a row.
    bool created = false, missing = false;
    for (int attempt = 0; attempt < START_ATTEMPTS && !created && !missing; ++attempt) {
        if (attempt != 0) {
            Sleep(START_RETRY_MS);
        }
        created = CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE,
                                 CREATE_SUSPENDED | DETACHED_PROCESS, nullptr, nullptr, &startup,
                                 &info) != FALSE;
        const DWORD error = created ? ERROR_SUCCESS : GetLastError();
        missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (!created) {
        return false;
    }
    HANDLE job = MakeJob();
    if (job != nullptr && !AssignProcessToJobObject(job, info.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    child->handle = reinterpret_cast<intptr_t>(info.hProcess);
    child->job = reinterpret_cast<intptr_t>(job);
    child->id = static_cast<int32_t>(info.dwProcessId);
    return true;
}

bool ProcessWait(ChildProcess* child, uint32_t ms) {
    if (child->handle == 0 || child->reaped) {
        return true;
    }
    if (WaitForSingleObject(AsHandle(child->handle), ms) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(AsHandle(child->handle), &code);
    child->status = static_cast<int32_t>(code);
    child->reaped = true;
    return true;
}

ProcessEnd ProcessResult(const ChildProcess* child) {
    if (!child->reaped) {
        return {ProcessEndKind::Running, 0};
    }
    const DWORD code = static_cast<DWORD>(child->status);
    return {code >= FIRST_EXCEPTION_CODE ? ProcessEndKind::Crashed : ProcessEndKind::Exited,
            static_cast<uint32_t>(code)};
}

ProcessEnd ProcessLook(const ChildProcess* child) {
    DWORD code = 0;
    if (child->handle == 0) {
        return {ProcessEndKind::Exited, 0};
    }
    if (WaitForSingleObject(AsHandle(child->handle), 0) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(AsHandle(child->handle), &code)) {
        return {ProcessEndKind::Running, 0};
    }
    return {code >= FIRST_EXCEPTION_CODE ? ProcessEndKind::Crashed : ProcessEndKind::Exited,
            static_cast<uint32_t>(code)};
}

void ProcessKill(ChildProcess* child) {
    if (child->handle != 0 && !ProcessWait(child, 0)) {
        TerminateProcess(AsHandle(child->handle), KILLED_CODE);
        ProcessWait(child, KILL_WAIT_MS);
    }
}

void ProcessRelease(ChildProcess* child) {
    if (child->handle != 0) {
        CloseHandle(AsHandle(child->handle));
    }
    if (child->job != 0) {
        CloseHandle(AsHandle(child->job)); // ends the child too, if it still runs
    }
    *child = ChildProcess{};
}

uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}

std::string ProgramFolderUtf8() {
    std::wstring path(MAX_PATH, L'\0');
    DWORD units = 0;
    while ((units = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()))) ==
               path.size() &&
           path.size() < 32768) {
        path.resize(path.size() * 2);
    }
    path.resize(units);
    const size_t slash = path.find_last_of(L"\\/");
    path.resize(slash == std::wstring::npos ? 0 : slash);
    const int n = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1u, '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, &out[0], n, nullptr, nullptr);
    }
    out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0u);
    return out.empty() ? "." : out;
}

namespace {

DWORD WINAPI WatchCaller(void* caller) {
    WaitForSingleObject(static_cast<HANDLE>(caller), INFINITE);
    TerminateProcess(GetCurrentProcess(), KILLED_CODE);
    return 0;
}

} // namespace

void EndWithCaller(uint32_t callerId) {
    HANDLE caller = OpenProcess(SYNCHRONIZE, FALSE, callerId);
    if (caller == nullptr) {
        TerminateProcess(GetCurrentProcess(), KILLED_CODE);
    }
    HANDLE watcher = CreateThread(nullptr, 0, WatchCaller, caller, 0, nullptr);
    if (watcher != nullptr) {
        CloseHandle(watcher);
    }
}
