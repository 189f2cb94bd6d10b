// VST 2 effects for the tests: the module's file name chooses what each does, any other name is
// a two-in, two-out copy. Each logs one line per event to "<its own file>.log" if that file
// exists as it is loaded: attach, detach, the entry point, each dispatcher call (nested=1:
// inside its own question to the host), each process call with the SSE modes it sees, and each
// question put to the host with the answer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "plugin/fx_transport.h"
#include "plugin/vst2.h"
#include "tests/plugins/hostile_values.h"
#include "tests/plugins/own_fault.h"
#ifdef PLUGIN_WITH_HELPER
#include "tests/plugins/fx_helper.h"
#endif

#ifdef _WIN32
#include <windows.h>
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr size_t PATH_CHARS = 4096, NAME_CHARS = 64;
constexpr int32_t GROWN_CHANNELS = 200; // beyond any host's limit
// Longer than the renderer gives a block, so that only a watch that counts the load fails.
constexpr unsigned SLOW_OPEN_MS = 6000;
// chunk_counter faults in this block of its own process, whatever count it was given.
constexpr int COUNTER_FAULT_BLOCK = 250;
// stall_calls holds its blocks this long inside the call it stalls: beyond a host's hang limit
// (1 s), short of a control call's (5 s).
constexpr unsigned STALL_MS = 1500;
// heavy_blocks takes this share of each block's own length (in percent).
constexpr long long HEAVY_PERCENT = 70;
constexpr long long HALF_PERCENT = 50; // half_blocks: what the monitor is to show as half

char variant[NAME_CHARS];
char logPath[PATH_CHARS];   // "<module path>.log", for modules under ASCII paths
char stallPath[PATH_CHARS]; // "<module path>.stall": the opcode stall_calls stalls in, as text
bool logging = false;
AEffect record;
HostCallbackProc host = nullptr;
thread_local int questionDepth = 0;
ERect editorRect = {10, 20, 60, 420}; // top, left, bottom, right: 400 x 50 pixels

bool Is(const char* name) {
    return std::strcmp(variant, name) == 0;
}

// "ch_<inputs>_<outputs>": an effect of those channel counts; 0 and 0 for other names.
int channelInputs = 0, channelOutputs = 0;

bool HasEditor() {
    return Is("editor") || Is("crash_edit_open") || Is("crash_edit_idle") || Is("editor_child") ||
           Is("stall_calls");
}

// The log is opened for every line, so a test may read, empty or remove it at any time.
template <typename... Args> void Log(const char* format, Args... args) {
    std::FILE* file = logging ? std::fopen(logPath, "ab") : nullptr;
    if (file != nullptr) {
        if constexpr (sizeof...(Args) == 0) {
            std::fputs(format, file); // a line without values is no format
        } else {
            std::fprintf(file, format, args...);
        }
        std::fputc('\n', file);
        std::fclose(file);
    }
}

void Attach(const char* modulePath) {
    const char* base = modulePath;
    for (const char* c = modulePath; *c != '\0'; ++c) {
        base = (*c == '/' || *c == '\\') ? c + 1 : base;
    }
    std::snprintf(variant, NAME_CHARS, "%s", base);
    variant[std::strcspn(variant, ".")] = '\0';
    if (std::sscanf(variant, "ch_%d_%d", &channelInputs, &channelOutputs) != 2) {
        channelInputs = channelOutputs = 0;
    }
    std::snprintf(logPath, PATH_CHARS, "%s.log", modulePath);
    std::snprintf(stallPath, PATH_CHARS, "%s.stall", modulePath);
    std::FILE* file = std::fopen(logPath, "rb");
    logging = file != nullptr && std::fclose(file) == 0;
    Log("attach");
}

// The state variants: one kept as a chunk, one as three parameters; chunk_counter's chunk is
// the number of blocks it has processed, carried on from the chunk it is given.
char chunk[32] = "chunk-state-as-left";
int blockCount = 0;
float parameters[3] = {0.25f, 0.5f, 0.75f};

float VST_CALL GetParameter(AEffect*, int32_t index) {
    return index >= 0 && index < 3 ? parameters[index] : 0.0f;
}

void VST_CALL SetParameter(AEffect*, int32_t index, float value) {
    Log("parameter %d=%g", index, static_cast<double>(value));
    if (index >= 0 && index < 3) {
        parameters[index] = value;
    }
}

void Ask(AEffect* asker, std::initializer_list<int32_t> opcodes) {
    for (int32_t opcode : opcodes) {
        ++questionDepth;
        const VstIntPtr result = host(asker, opcode, 0, 0, nullptr, 0.0f);
        --questionDepth;
        Log("ask opcode=%d result=%lld", opcode, static_cast<long long>(result));
    }
}

void AskEverything(AEffect* asker) {
    Ask(asker, {audioMasterVersion, audioMasterGetSampleRate, audioMasterGetBlockSize,
                audioMasterGetCurrentProcessLevel, audioMasterIOChanged /* refused */});
}

// The questions real effects put besides: each answer logged as the effect sees it.
void AskWhatHostsAreAsked(AEffect* asker) {
    const auto* time =
        reinterpret_cast<const VstTimeInfo*>(host(asker, audioMasterGetTime, 0, 0, nullptr, 0.0f));
    if (time != nullptr) {
        Log("time pos=%g rate=%g tempo=%g ppq=%g bar=%g sig=%d/%d flags=%d", time->samplePos,
            time->sampleRate, time->tempo, time->ppqPos, time->barStartPos, time->timeSigNumerator,
            time->timeSigDenominator, time->flags);
    }
    char vendor[HOST_STRING_CHARS] = "", product[HOST_STRING_CHARS] = "";
    const VstIntPtr vendorFilled = host(asker, audioMasterGetVendorString, 0, 0, vendor, 0.0f);
    const VstIntPtr productFilled = host(asker, audioMasterGetProductString, 0, 0, product, 0.0f);
    Log("vendor=%s (%lld) product=%s (%lld)", vendor, static_cast<long long>(vendorFilled), product,
        static_cast<long long>(productFilled));
    for (const char* name : {"sendVstTimeInfo", "sizeWindow", "sendVstEvents", "anythingElse"}) {
        Log("canDo %s=%lld", name,
            static_cast<long long>(
                host(asker, audioMasterCanDo, 0, 0, const_cast<char*>(name), 0.0f)));
    }
    Ask(asker, {audioMasterGetVendorVersion, audioMasterGetLanguage, audioMasterUpdateDisplay,
                audioMasterBeginEdit, audioMasterAutomate, audioMasterEndEdit,
                audioMasterSizeWindow /* 0 by 0: refused */});
}

int* volatile nowhere = nullptr; // what a faulting effect writes through
volatile bool stalling = false;  // stall_calls' blocks wait while it is set
volatile bool forever = true;    // what a hanging effect waits for
volatile int bottom = -1;        // never reached: a recursion without an end the compiler sees
volatile bool inBlock = false;   // late_start's: inside a late block of its own

int Deeper(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return depth == bottom ? 0 : Deeper(depth + 1) + frame[0];
}

void SleepMs(unsigned ms) {
#ifdef _WIN32
    Sleep(ms);
#else
    usleep(ms * 1000);
#endif
}

void EditorChild(AEffect* self, int32_t opcode, [[maybe_unused]] void* parent) {
#ifdef _WIN32
    static HWND child = nullptr;
    if (opcode == effEditOpen) {
        child = CreateWindowExW(0, L"STATIC", L"editor_child", WS_CHILD | WS_VISIBLE, 0, 0, 400, 50,
                                static_cast<HWND>(parent), nullptr, nullptr, nullptr);
    } else if (opcode == effEditClose && child != nullptr) {
        DestroyWindow(child);
        child = nullptr;
    }
#endif
    static bool asked = false;
    if (opcode == effEditIdle && !asked) { // and a knob turned, as a user would
        asked = true;
        Log("size asked %lld",
            static_cast<long long>(host(self, audioMasterSizeWindow, 320, 200, nullptr, 0.0f)));
        parameters[0] = 0.875f;
        host(self, audioMasterAutomate, 0, 0, nullptr, parameters[0]);
    }
}

// scribbler in its blocks, scribble_open in effOpen, inside a host process, for 3 s: junk in every
// field host and caller share ahead of the payload (sizes, counts, indexes, sequence numbers, the
// event ring, magic, layout, wake-up words) and a storm of the caller's wake-ups. Natively the
// transport's name is gone once both sides hold it: the host's mapping still carries it.
void ScribbleIf(bool now) {
    if (!now) {
        return;
    }
    void* at = nullptr;
#ifdef _WIN32
    char name[NAME_CHARS] = "", *found = std::strstr(GetCommandLineA(), "kawauso-fx-");
    std::sscanf(found != nullptr ? found : "", "%63[^ \"]", name); // the host's first argument
    const std::string local = std::string("Local\\") + name;
    HANDLE memory = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, local.c_str());
    HANDLE wakes[] = {OpenEventA(EVENT_MODIFY_STATE, FALSE, (local + "-done").c_str()),
                      OpenEventA(EVENT_MODIFY_STATE, FALSE, (local + "-bdone").c_str())};
    at = memory != nullptr ? MapViewOfFile(memory, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
#else
    std::FILE* maps = std::fopen("/proc/self/maps", "r");
    for (char line[PATH_CHARS]; at == nullptr && std::fgets(line, PATH_CHARS, maps);) {
        std::sscanf(std::strstr(line, "/kawauso-fx-") != nullptr ? line : "", "%p", &at);
    }
    std::fclose(maps);
    auto* shared = static_cast<FxShared*>(at);
#endif
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (at != nullptr && std::chrono::steady_clock::now() < end) {
        std::memset(at, 0xA5, offsetof(FxShared, piece)); // beyond every limit, no sequence
#ifdef _WIN32
        SetEvent(wakes[0]), SetEvent(wakes[1]);
#else
        syscall(SYS_futex, &shared->control.toCaller, FUTEX_WAKE, 1, nullptr, nullptr, 0);
        syscall(SYS_futex, &shared->block.toCaller, FUTEX_WAKE, 1, nullptr, nullptr, 0);
#endif
    }
}

// stall_calls: in the opcode its .stall file names (read at every call, so a test may name one
// at any time), its blocks wait STALL_MS, as an effect deadlocked on its own audio lock would
// until the host calls it hung. Once: the file goes as the stall begins, so that the restarted
// host, which calls the same again (the editor comes back), does not stall too before the test
// has taken the file away (on a loaded machine it did, three times, and was cut loose).
void StallIfAsked(int32_t opcode) {
    std::FILE* file = std::fopen(stallPath, "rb");
    int named = -1;
    if (file != nullptr) {
        named = std::fscanf(file, "%d", &named) == 1 ? named : -1;
        std::fclose(file);
    }
    if (named == opcode) {
        std::remove(stallPath);
        Log("stall opcode=%d", opcode);
        stalling = true;
        SleepMs(STALL_MS);
        stalling = false;
    }
}

VstIntPtr VST_CALL Dispatcher(AEffect* self, int32_t opcode, int32_t index, VstIntPtr value,
                              void* ptr, float opt) {
    Log("dispatcher opcode=%d index=%d value=%lld opt=%g ptr=%s nested=%d", opcode, index,
        static_cast<long long>(value), static_cast<double>(opt), ptr ? "set" : "null",
        questionDepth > 0 ? 1 : 0);
    if (inBlock) {
        Log("dispatcher called inside a block");
    }
    if (Is("stall_calls")) {
        StallIfAsked(opcode);
    }
    if (HasEditor() && opcode == effEditGetRect && ptr != nullptr) {
        *static_cast<ERect**>(ptr) = &editorRect;
    }
    if (Is("chunk_counter") && opcode == effGetChunk) {
        std::snprintf(chunk, sizeof chunk, "blocks=%d", blockCount);
        Log("chunk given %s", chunk);
    }
    if ((Is("chunk_state") || Is("chunk_counter") || Is("stall_calls")) && opcode == effGetChunk &&
        ptr != nullptr) {
        *static_cast<void**>(ptr) = chunk;
        return static_cast<VstIntPtr>(std::strlen(chunk));
    }
    if (Is("bad_chunk") && opcode == effGetChunk && ptr != nullptr) { // an address nobody may read
        *static_cast<void**>(ptr) = reinterpret_cast<void*>(uintptr_t{16});
        return 64;
    }
    if ((Is("chunk_state") || Is("chunk_counter")) && opcode == effSetChunk && ptr != nullptr &&
        value >= 0) {
        const std::string text(static_cast<const char*>(ptr), static_cast<size_t>(value));
        Log("chunk received %s", text.c_str());
        std::sscanf(text.c_str(), "blocks=%d", &blockCount);
    }
    if (Is("asking") && opcode == effOpen) {
        AskEverything(self);
    }
#ifdef _WIN32
    if (Is("modal_open") && opcode == effOpen) { // its own box, with its own message loop
        MessageBoxW(nullptr, L"modal_open", L"Kawauso04 test effect", MB_OK);
    }
#endif
    if (Is("exit_open") && opcode == effOpen) { // takes the whole process down: no guard sees it
        Log("exit");
        std::_Exit(7);
    }
    if (Is("grow_channels") && opcode == effOpen) { // 2 and 2 when loaded, from now on 200
        channelInputs = channelOutputs = record.numInputs = record.numOutputs = GROWN_CHANNELS;
    }
    if (Is("slow_open") && opcode == effOpen) {
        SleepMs(SLOW_OPEN_MS);
    }
    while (Is("hang_open") && opcode == effOpen && forever) {
        SleepMs(50);
    }
    if ((Is("crash_open") && opcode == effOpen) ||
        (Is("crash_edit_open") && opcode == effEditOpen) ||
        (Is("crash_edit_idle") && opcode == effEditIdle)) {
        *nowhere = 1; // a write through a null pointer
    }
    ScribbleIf(Is("scribble_open") && opcode == effOpen);
    if (Is("editor_child")) { // a window of its own in the host's, and a size of its own later
        EditorChild(self, opcode, ptr);
    }
    if (Is("recursive") && (opcode == effSetSampleRate || opcode == effSetBlockSize)) {
        Ask(self,
            {opcode == effSetSampleRate ? audioMasterGetSampleRate : audioMasterGetBlockSize});
    }
    return 0;
}

// The channel variants: output 0 is input 0, output 1 is input 1 (or 0) negated, each plus the
// sum of the inputs beyond two (side chains); outputs beyond two are full scale. Every input
// and output the effect says it has at the time, as grow_channels trusts its host to give.
void RouteChannels(float** inputs, float** outputs, int32_t frames) {
    for (int32_t k = 0; k < channelOutputs; ++k) {
        for (int32_t i = 0; i < frames; ++i) {
            float side = 0.0f;
            for (int32_t j = 2; j < channelInputs; ++j) {
                side += inputs[j][i];
            }
            const float own = inputs[k % channelInputs][i] * (k == 1 ? -1.0f : 1.0f);
            outputs[k][i] = k >= 2 ? 1.0f : own + side;
        }
    }
}

// The SSE modes as an effect's own arithmetic sees them: flush-to-zero turns the tiny product
// (1e-40 is below the normal range) into 0, denormals-are-zero the denormal addend.
void VST_CALL Process(AEffect* self, float** inputs, float** outputs, int32_t frames) {
    volatile float tiny = 1e-30f, denormal = 1e-40f, normal = 1.5e-38f;
    Log("process frames=%d ftz=%d daz=%d", frames, tiny * 1e-10f == 0.0f ? 1 : 0,
        denormal + normal == normal ? 1 : 0);
    if (Is("asking")) {
        AskEverything(self);
    }
    if (Is("host_questions")) {
        AskWhatHostsAreAsked(self);
    }
    static int blocks = 0;
    static long long framesSeen = 0;
    // The "_later" effects copy the first two seconds of sound through, then fail.
    const bool late = (framesSeen += frames) > 88200;
    const bool counted = Is("chunk_counter") && (++blockCount, ++blocks == COUNTER_FAULT_BLOCK);
    if ((Is("crash_process") && ++blocks % 3 == 0) || (Is("crash_later") && late) || counted) {
        *nowhere = 1;
    }
    if (Is("overflow_process")) {
        Deeper(0);
    }
    ScribbleIf(Is("scribbler"));
    if (Is("own_fault") && RaiseAndHandleOwnFault()) {
        Log("own fault handled");
    }
    while ((Is("hang_process") || (Is("hang_later") && late)) && forever) {
        SleepMs(50); // never returns, without keeping a processor busy
    }
    if (Is("slow_process") || (Is("late_start") && ++blocks <= 3)) {
        inBlock = true;
        SleepMs(150); // returns, but late (late_start only in its first three blocks)
        inBlock = false;
    }
    while (Is("stall_calls") && stalling) {
        SleepMs(1);
    }
    if (Is("heavy_blocks") || Is("half_blocks")) { // most or half of the block's own time
        const long long percent = Is("heavy_blocks") ? HEAVY_PERCENT : HALF_PERCENT;
        const long long us = frames * 100LL * percent / 441; // of 1e6 / 44100 us a frame
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
        SleepMs(static_cast<unsigned>(us / 1000 > 1 ? us / 1000 - 1 : 0)); // the rest spun
        while (std::chrono::steady_clock::now() < until) {
        }
    }
    if (Is("slow_crash")) {
        SleepMs(300); // comes back late, with a fault
        *nowhere = 1;
    }
    if ((Is("exit_process") && ++blocks == 3) || (Is("exit_later") && late)) {
        Log("exit");
        std::exit(7); // the process's own exit, atexit handlers and all
    }
    if (Is("break_process")) {
        Breakpoint();
    }
    if (Is("heap_lock_crash") || Is("heap_lock_kept")) {
        LockHeapThenFault(Is("heap_lock_crash"));
    }
    if (Is("heap_lock_later") && late) {
        DeadlockOnHeapLock();
    }
    static volatile int zero = 0, seven = 7; // neither known, so a real division
    if (Is("divide_process")) {
        zero = seven / zero;
    }
    if (channelInputs > 0) {
        RouteChannels(inputs, outputs, frames);
        return;
    }
    const bool hostile = Is("hostile");
    const int32_t n = static_cast<int32_t>(HOSTILE_VALUE_COUNT);
#ifdef PLUGIN_WITH_HELPER
    const float scale = HelperGain(); // from its helper DLL beside it
#else
    // Far beyond full scale and back, exactly: only a chain that never requantises between
    // its effects gets the sound back.
    constexpr float GAIN = 16.0f;
    const float scale = Is("gain_up") ? GAIN : (Is("gain_down") ? 1.0f / GAIN : 1.0f);
#endif
    for (int32_t i = 0; i < frames; ++i) {
        outputs[0][i] = hostile ? HOSTILE_VALUES[i % n].value : inputs[0][i] * scale;
        outputs[1][i] = hostile ? HOSTILE_VALUES[n - 1 - i % n].value : inputs[1][i] * scale;
    }
}

AEffect* Enter(HostCallbackProc hostCallback, const char* exportName) {
    Log("entry %s", exportName);
    host = hostCallback;
    if (Is("asking")) {
        Ask(nullptr, {audioMasterVersion, audioMasterGetSampleRate});
    }
    std::memset(&record, 0, sizeof record);
    record.magic = Is("bad_magic") ? 0x12345678 : 0x56737450 /* 'VstP' */;
    record.numInputs = channelInputs > 0 ? channelInputs : (Is("no_inputs") ? 0 : 2);
    record.numOutputs = channelOutputs > 0 ? channelOutputs : (Is("no_outputs") ? 0 : 2);
    record.flags = (HasEditor() ? effFlagsHasEditor : 0) |
                   (Is("chunk_state") || Is("chunk_counter") || Is("bad_chunk") || Is("stall_calls")
                        ? effFlagsProgramChunks
                        : 0);
    record.uniqueID = 0x4B775374; // 'KwSt'
    record.version = 3;
    if (Is("param_state") || Is("editor_child")) {
        record.numParams = 3;
        record.getParameter = GetParameter, record.setParameter = SetParameter;
    }
    if (!Is("hollow")) { // a record that only says how many channels it has
        record.dispatcher = Dispatcher, record.processReplacing = Process;
    }
    return Is("null_effect") ? nullptr : &record; // a record exists, but none is given
}

} // namespace

#if !defined(PLUGIN_WITHOUT_ENTRY) && !defined(PLUGIN_MAIN_ONLY)
PLUGIN_EXPORT AEffect* VST_CALL VSTPluginMain(HostCallbackProc hostCallback) {
    return Enter(hostCallback, "VSTPluginMain");
}
#endif
#ifndef PLUGIN_WITHOUT_ENTRY
// "main" is a program's own entry in C++: Windows builds export MainEntry under that name
// through their module definition file, elsewhere the symbol is named so.
#ifndef _WIN32
PLUGIN_EXPORT AEffect* VST_CALL MainEntry(HostCallbackProc hostCallback) __asm__("main");
#endif
extern "C" AEffect* VST_CALL MainEntry(HostCallbackProc hostCallback) {
    return Enter(hostCallback, "main");
}
#else // under a name no host looks for
PLUGIN_EXPORT AEffect* VST_CALL CreateEffect(HostCallbackProc hostCallback) {
    return Enter(hostCallback, "CreateEffect");
}
#endif

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        char path[PATH_CHARS] = "";
        GetModuleFileNameA(module, path, PATH_CHARS - 8);
        Attach(path);
    } else if (reason == DLL_PROCESS_DETACH) {
        Log("detach");
    }
    return TRUE;
}
#else
__attribute__((constructor)) static void OnLoad() {
    Dl_info info;
    Attach(dladdr(reinterpret_cast<void*>(&OnLoad), &info) != 0 && info.dli_fname ? info.dli_fname
                                                                                  : "");
}
__attribute__((destructor)) static void OnUnload() {
    Log("detach");
}
#endif
