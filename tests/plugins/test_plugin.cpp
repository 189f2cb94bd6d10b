// Small VST 2 effects for the tests, one source built into several variants by defines (see
// CMakeLists.txt). Each effect copies its inputs to its outputs unless its variant says
// otherwise, and writes one line per call it receives to "<its own file>.log", but only
// when that file exists when the module is loaded: a test creates the file to listen, and
// without it (benchmarks, a user's run) nothing is written at all.
//
// Lines:
//   attach | detach                     the module was loaded | unloaded
//   entry NAME                          the entry point called, by its export name
//   dispatcher opcode=.. index=.. value=.. opt=.. ptr=null|set nested=0|1
//   process frames=.. ftz=0|1 daz=0|1   one processReplacing call, with the SSE modes seen
//   ask opcode=.. result=..             a question this effect put to the host, answered
// nested=1 marks a dispatcher call that arrived on the same thread while this effect was
// inside one of its own questions to the host.
#include <cstdio>
#include <cstring>

#include "plugin/vst2.h"
#include "tests/plugins/hostile_values.h"

#ifdef _WIN32
#include <windows.h>
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#ifndef PLUGIN_INPUTS
#define PLUGIN_INPUTS 2
#endif
#ifndef PLUGIN_OUTPUTS
#define PLUGIN_OUTPUTS 2
#endif
#ifndef PLUGIN_MAGIC
#define PLUGIN_MAGIC 0x56737450  // 'VstP'
#endif

namespace {

constexpr size_t PATH_CHARS = 4096;
constexpr size_t LINE_CHARS = 256;

#ifdef _WIN32
wchar_t logPath[PATH_CHARS];
#else
char logPath[PATH_CHARS];
#endif
bool logging = false;

AEffect record;
HostCallbackProc host = nullptr;
thread_local int questionDepth = 0;

#ifdef _WIN32
void AppendBytes(const char* text, size_t length) {
    HANDLE file = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
        CloseHandle(file);
    }
}

// The log is "<module path>.log"; logging is on only if it exists now.
void StartLog(HINSTANCE module) {
    DWORD n = GetModuleFileNameW(module, logPath, PATH_CHARS - 8);
    if (n == 0 || n >= PATH_CHARS - 8) {
        return;
    }
    std::memcpy(logPath + n, L".log", 5 * sizeof(wchar_t));
    logging = GetFileAttributesW(logPath) != INVALID_FILE_ATTRIBUTES;
}
#else
void AppendBytes(const char* text, size_t length) {
    int file = open(logPath, O_WRONLY | O_APPEND);
    if (file >= 0) {
        ssize_t written = write(file, text, length);
        (void)written;
        close(file);
    }
}

void StartLog() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&AppendBytes), &info) == 0 || info.dli_fname == nullptr) {
        return;
    }
    int n = std::snprintf(logPath, PATH_CHARS, "%s.log", info.dli_fname);
    logging = n > 0 && static_cast<size_t>(n) < PATH_CHARS && access(logPath, F_OK) == 0;
}
#endif

void Log(const char* text) {
    if (!logging) {
        return;
    }
    char line[LINE_CHARS];
    int n = std::snprintf(line, sizeof line, "%s\n", text);
    if (n > 0) {
        AppendBytes(line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n)
                                                                : sizeof line - 1);
    }
}

#ifdef PLUGIN_ASKS_HOST
// One question to the host, logged with its answer after any call it caused.
VstIntPtr Ask(AEffect* asker, int32_t opcode) {
    ++questionDepth;
    VstIntPtr result = host(asker, opcode, 0, 0, nullptr, 0.0f);
    --questionDepth;
    char line[LINE_CHARS];
    std::snprintf(line, sizeof line, "ask opcode=%d result=%lld", static_cast<int>(opcode),
                  static_cast<long long>(result));
    Log(line);
    return result;
}

void AskEverything(AEffect* asker) {
    Ask(asker, audioMasterVersion);
    Ask(asker, audioMasterGetSampleRate);
    Ask(asker, audioMasterGetBlockSize);
    Ask(asker, audioMasterGetCurrentProcessLevel);
    Ask(asker, 7);  // not answered
}
#endif

#ifdef PLUGIN_HAS_EDITOR
ERect editorRect = {10, 20, 60, 420};  // top, left, bottom, right: 400 x 100 pixels
#endif

VstIntPtr VST_CALL Dispatcher(AEffect* self, int32_t opcode, int32_t index, VstIntPtr value,
                              void* ptr, float opt) {
    char line[LINE_CHARS];
    std::snprintf(line, sizeof line,
                  "dispatcher opcode=%d index=%d value=%lld opt=%g ptr=%s nested=%d",
                  static_cast<int>(opcode), static_cast<int>(index),
                  static_cast<long long>(value), static_cast<double>(opt),
                  ptr == nullptr ? "null" : "set", questionDepth > 0 ? 1 : 0);
    Log(line);
#ifdef PLUGIN_HAS_EDITOR
    if (opcode == effEditGetRect && ptr != nullptr) {
        *static_cast<ERect**>(ptr) = &editorRect;
    }
#endif
#ifdef PLUGIN_ASKS_HOST
    if (opcode == effOpen) {
        AskEverything(self);
    }
#endif
    (void)self;
    return 0;
}

// Whether the SSE modes are on right now, seen the way an effect's own arithmetic sees them.
bool FlushesToZero() {
    volatile float tiny = 1e-30f;
    volatile float product = tiny * 1e-10f;  // 1e-40 is below the normal range
    return product == 0.0f;
}

bool DenormalsAreZero() {
    volatile float denormal = 1e-40f;
    volatile float normal = 1.5e-38f;
    volatile float sum = denormal + normal;  // a normal result, unless the input counts as 0
    return sum == normal;
}

void VST_CALL Process(AEffect* self, float** inputs, float** outputs, int32_t frames) {
    char line[LINE_CHARS];
    std::snprintf(line, sizeof line, "process frames=%d ftz=%d daz=%d", static_cast<int>(frames),
                  FlushesToZero() ? 1 : 0, DenormalsAreZero() ? 1 : 0);
    Log(line);
#ifdef PLUGIN_ASKS_HOST
    AskEverything(self);
#endif
    (void)self;
    for (int32_t i = 0; i < frames; ++i) {
#ifdef PLUGIN_HOSTILE_OUTPUT
        (void)inputs;
        const int32_t n = static_cast<int32_t>(HOSTILE_VALUE_COUNT);
        outputs[0][i] = HOSTILE_VALUES[i % n].value;
        outputs[1][i] = HOSTILE_VALUES[n - 1 - i % n].value;
#else
        outputs[0][i] = inputs[0][i];
        outputs[1][i] = inputs[1][i];
#endif
    }
}

AEffect* Enter(HostCallbackProc hostCallback, const char* exportName) {
    char line[LINE_CHARS];
    std::snprintf(line, sizeof line, "entry %s", exportName);
    Log(line);
    host = hostCallback;
#ifdef PLUGIN_ASKS_HOST
    Ask(nullptr, audioMasterVersion);
    Ask(nullptr, audioMasterGetSampleRate);
#endif
    std::memset(&record, 0, sizeof record);
    record.magic = PLUGIN_MAGIC;
    record.numInputs = PLUGIN_INPUTS;
    record.numOutputs = PLUGIN_OUTPUTS;
    record.numPrograms = 1;
    record.ioRatio = 1.0f;
    record.version = 1;
    record.dispatcher = Dispatcher;
    record.processReplacing = Process;
#ifdef PLUGIN_HOLLOW
    record.dispatcher = nullptr;  // a record that only says how many channels it has
    record.processReplacing = nullptr;
#endif
#ifdef PLUGIN_HAS_EDITOR
    record.flags = effFlagsHasEditor;
#endif
#ifdef PLUGIN_RETURNS_NULL
    return nullptr;  // a record exists, but the entry point gives none
#else
    return &record;
#endif
}

}  // namespace

#ifdef PLUGIN_EXPORT_VSTPLUGINMAIN
PLUGIN_EXPORT AEffect* VST_CALL VSTPluginMain(HostCallbackProc hostCallback) {
    return Enter(hostCallback, "VSTPluginMain");
}
#endif

#ifdef PLUGIN_EXPORT_MAIN
// Exported under the name "main", which C++ keeps for a program's own entry: on Windows the
// build's module definition file exports MainEntry as "main", elsewhere the symbol is named so.
#ifdef _WIN32
extern "C" AEffect* VST_CALL MainEntry(HostCallbackProc hostCallback);
#else
PLUGIN_EXPORT AEffect* VST_CALL MainEntry(HostCallbackProc hostCallback) __asm__("main");
#endif
extern "C" AEffect* VST_CALL MainEntry(HostCallbackProc hostCallback) {
    return Enter(hostCallback, "main");
}
#endif

#if !defined(PLUGIN_EXPORT_VSTPLUGINMAIN) && !defined(PLUGIN_EXPORT_MAIN)
// The same function, exported under neither of the names a host looks for.
PLUGIN_EXPORT AEffect* VST_CALL CreateEffect(HostCallbackProc hostCallback) {
    return Enter(hostCallback, "CreateEffect");
}
#endif

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        StartLog(module);
        Log("attach");
    } else if (reason == DLL_PROCESS_DETACH) {
        Log("detach");
    }
    return TRUE;
}
#else
__attribute__((constructor)) static void OnLoad() {
    StartLog();
    Log("attach");
}

__attribute__((destructor)) static void OnUnload() { Log("detach"); }
#endif
