// The stream through WASAPI: an event-driven shared-mode capture client and a shared-mode
// render client on the endpoints found by name, and an audio thread of its own that runs each
// captured packet through ProcessBlock as it comes and writes the result into the render
// buffer at once. There is no queue of our own on top of the system's: that is the latency
// WinMM cannot give.
#include "audio/stream_backend.h"

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <process.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "audio/audio_format.h"
#include "audio/packet_processing.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "audio/wasapi_devices.h"
#include "platform/platform.h"
#include "platform/system_library.h"
#include "plugin/plugin_call_watch.h"

namespace {

constexpr REFERENCE_TIME HNS_PER_MS = 10000;
constexpr REFERENCE_TIME HNS_PER_SECOND = 10000000;
constexpr UINT32 MIN_RENDER_PERIODS = 4;     // room for the cushion and a late packet
constexpr uint32_t QUEUE_WINDOW_WRITES = 50; // half a second of 10 ms blocks
// A packet later than two periods and a clock tick is a gap in the sound.
constexpr uint32_t LATE_PERIODS = 2;
constexpr uint32_t TICK_RESOLUTION_MS = 16;
const wchar_t PRO_AUDIO_TASK[] = L"Pro Audio";

using AvSetProc = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
using AvRevertProc = BOOL(WINAPI*)(HANDLE);
AvSetProc avSet = nullptr;
AvRevertProc avRevert = nullptr;

// One run's devices, buffers and thread. The audio thread works on its own run; a thread left
// behind inside an effect keeps its run (and the buffers the effect may still write into) for
// good, while the next run gets a new one.
struct WasapiRun {
    StreamRun base;
    IAudioClient* captureClient;
    IAudioClient* renderClient;
    IAudioCaptureClient* capture;
    IAudioRenderClient* render;
    HANDLE captureEvent;
    HANDLE quitEvent;
    HANDLE thread;
    UINT32 renderFrames; // the render buffer's size
    uint32_t periodMs;
    PacketScratch scratch; // blocks of at most the engine's period
    // The audio thread's view of playback.
    UINT32 paddingAfterWrite;
    bool written;
    bool cushioned;
    bool draining;        // dropping blocks until the buffer is back to its limit
    UINT32 lowestPadding; // over the current window of writes
    uint32_t windowWrites;
    uint32_t lastWrite;
    // The fade-out's end: when the block that carried it will have been played.
    std::atomic<int32_t> fadeOutWritten;
    std::atomic<uint32_t> fadeOutDueTick;
};

WasapiRun& Of(StreamRun* run) {
    return *static_cast<WasapiRun*>(run->system);
}

template <typename T> void Release(T*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

// MMCSS from the system's own avrt.dll, when the system has it.
void FindProAudio() {
    static bool looked = false;
    if (looked) {
        return;
    }
    looked = true;
    HMODULE avrt = LoadSystemLibrary(L"avrt.dll");
    if (avrt != nullptr) {
        avSet = reinterpret_cast<AvSetProc>(
            reinterpret_cast<void*>(GetProcAddress(avrt, "AvSetMmThreadCharacteristicsW")));
        avRevert = reinterpret_cast<AvRevertProc>(
            reinterpret_cast<void*>(GetProcAddress(avrt, "AvRevertMmThreadCharacteristics")));
    }
}

// The class a system without MMCSS (or with only a stand-in for it) still honours.
HANDLE JoinProAudio() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    DWORD task = 0;
    return avSet != nullptr ? avSet(PRO_AUDIO_TASK, &task) : nullptr;
}

bool Put(WasapiRun& self, const int16_t* samples, UINT32 frames) {
    BYTE* into = nullptr;
    if (FAILED(self.render->GetBuffer(frames, &into))) {
        return false;
    }
    if (samples != nullptr) {
        std::memcpy(into, samples, frames * BLOCK_ALIGN);
    }
    return SUCCEEDED(self.render->ReleaseBuffer(
        frames, samples != nullptr ? 0 : static_cast<DWORD>(AUDCLNT_BUFFERFLAGS_SILENT)));
}

// Writes a processed block. In shared mode an empty render buffer at a write is the steady
// state of a stream without a queue of its own (the engine takes the block at its next pass);
// the engine ran dry, and a gap was heard, only when the write came later than that pass. The
// first time in a run one block of silence then goes ahead, so the buffer holds one block more
// from then on. The buffer holds up to two blocks at a write (the engine takes whole periods at
// passes that jitter against the capture's), and more for a moment, but when
// even its lowest over a window is beyond that, it is delay that never drains (capture came in
// a burst, or runs a little fast): blocks are then dropped until it is back, one gap instead of
// a delay for good. A block that does not fit is dropped too. The engine having taken
// something since the last write is the sign that playback moves; a device that went away may
// go on taking nothing.
void WriteRender(WasapiRun& self, const int16_t* block, UINT32 frames) {
    const uint32_t now = GetTickCount();
    self.base.lastCaptureTick.store(now); // alive after a long block too
    UINT32 padding = 0;
    if (FAILED(self.renderClient->GetCurrentPadding(&padding))) {
        self.base.deviceCallFailed.store(1);
        return;
    }
    if (!self.written || padding < self.paddingAfterWrite) {
        self.base.playbackProgressTick.store(now);
    }
    const bool ranDry = self.written && padding == 0 &&
                        now - self.lastWrite > LATE_PERIODS * self.periodMs + TICK_RESOLUTION_MS;
    if (ranDry) {
        CountUnderrun(self.base);
    }
    if (ranDry && !self.cushioned && self.renderFrames - padding >= 2 * frames) {
        self.cushioned = true;
        if (!Put(self, nullptr, frames)) {
            self.base.deviceCallFailed.store(1);
            return;
        }
        padding += frames;
    }
    const UINT32 queueLimit = (self.cushioned ? 3 : 2) * self.scratch.blockFrames;
    self.lowestPadding = padding < self.lowestPadding ? padding : self.lowestPadding;
    if (++self.windowWrites >= QUEUE_WINDOW_WRITES) {
        self.draining = self.lowestPadding > queueLimit;
        self.lowestPadding = UINT32_MAX;
        self.windowWrites = 0;
    }
    self.draining = self.draining && padding > queueLimit;
    if (self.draining || self.renderFrames - padding < frames) {
        CountOverrun(self.base);
        return;
    }
    if (!Put(self, block, frames)) {
        self.base.deviceCallFailed.store(1);
        return;
    }
    self.written = true;
    self.lastWrite = now;
    self.paddingAfterWrite = padding + frames;
    const FadePair fade = fadePair.load();
    if (FadeOutEnded(fade) && self.fadeOutWritten.load() == 0) {
        self.fadeOutDueTick.store(now + self.paddingAfterWrite * 1000 / SAMPLE_RATE + 1);
        self.fadeOutWritten.store(1);
    }
}

// Each processed block, written at once.
void PlayProcessed(void* context, const int16_t* block, uint32_t frames) {
    WriteRender(*static_cast<WasapiRun*>(context), block, frames);
}

// Everything captured so far. False as ProcessPacket: this thread was left behind.
bool DrainCapture(WasapiRun& self) {
    for (;;) {
        UINT32 frames = 0;
        BYTE* data = nullptr;
        DWORD flags = 0;
        const HRESULT got = self.capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
        if (got == AUDCLNT_S_BUFFER_EMPTY) {
            return true;
        }
        if (FAILED(got)) {
            self.base.deviceCallFailed.store(1); // AUDCLNT_E_DEVICE_INVALIDATED among others
            return true;
        }
        if (self.base.stopping.load() == 0) {
            NoteCaptureArrival(self.base, GetTickCount(),
                               LATE_PERIODS * self.periodMs + TICK_RESOLUTION_MS, false);
            const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
            if (!ProcessPacket(self.scratch, silent ? nullptr : data, frames, PlayProcessed,
                               &self)) {
                return false;
            }
        }
        if (FAILED(self.capture->ReleaseBuffer(frames))) {
            self.base.deviceCallFailed.store(1);
            return true;
        }
    }
}

unsigned __stdcall WasapiThreadProc(void* context) {
    WasapiRun& self = *static_cast<WasapiRun*>(context);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HANDLE proAudio = JoinProAudio();
    const HANDLE waits[] = {self.quitEvent, self.captureEvent};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        if (!DrainCapture(self)) {
            break; // left behind: the run is not ours any more
        }
    }
    if (proAudio != nullptr && avRevert != nullptr) {
        avRevert(proAudio);
    }
    ReleaseRun(&self.base); // the run's COM objects are free-threaded: released from here too
    CoUninitialize();
    return 0;
}

// The stream format, converted by the engine when the endpoint's own format differs.
bool InitializeClient(IAudioClient* client, REFERENCE_TIME duration, DWORD flags) {
    WAVEFORMATEX format = StreamWaveFormat();
    WAVEFORMATEX* closest = nullptr;
    const HRESULT supported =
        client->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, &format, &closest);
    CoTaskMemFree(closest);
    if (supported != S_OK) {
        flags |= AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
    }
    return SUCCEEDED(
        client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, duration, 0, &format, nullptr));
}

IAudioClient* Activate(IMMDevice* endpoint) {
    IAudioClient* client = nullptr;
    if (endpoint == nullptr ||
        FAILED(endpoint->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                  reinterpret_cast<void**>(&client)))) {
        return nullptr;
    }
    return client;
}

// Everything of a run but its thread, by the last of its holders.
void FreeWasapiRun(StreamRun* base) {
    WasapiRun* self = &Of(base);
    if (self->captureClient != nullptr) {
        self->captureClient->Stop();
    }
    if (self->renderClient != nullptr) {
        self->renderClient->Stop();
    }
    Release(self->capture);
    Release(self->render);
    Release(self->captureClient);
    Release(self->renderClient);
    for (HANDLE event : {self->captureEvent, self->quitEvent}) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
    std::free(self->scratch.input);
    std::free(self->scratch.output);
    delete self;
}

// Clients, services, buffers and events of a new run for the two endpoints. False (the run
// partly filled, for its release) when any of them cannot be had.
bool PrepareRun(WasapiRun& self, IMMDevice* captureEndpoint, IMMDevice* renderEndpoint,
                int32_t ms) {
    self.captureClient = Activate(captureEndpoint);
    self.renderClient = Activate(renderEndpoint);
    REFERENCE_TIME period = 0;
    if (self.captureClient == nullptr || self.renderClient == nullptr ||
        FAILED(self.captureClient->GetDevicePeriod(&period, nullptr)) || period <= 0) {
        return false;
    }
    const REFERENCE_TIME duration = ms * HNS_PER_MS;
    const REFERENCE_TIME renderDuration =
        duration > MIN_RENDER_PERIODS * period ? duration : MIN_RENDER_PERIODS * period;
    const uint32_t blockFrames =
        static_cast<uint32_t>((period * SAMPLE_RATE + HNS_PER_SECOND - 1) / HNS_PER_SECOND);
    self.periodMs = static_cast<uint32_t>((period + HNS_PER_MS - 1) / HNS_PER_MS);
    self.base.periodMs = self.periodMs;
    self.base.blockBytes = blockFrames * BLOCK_ALIGN;
    self.captureEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    self.quitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    self.scratch = {static_cast<int16_t*>(std::calloc(blockFrames, BLOCK_ALIGN)),
                    static_cast<int16_t*>(std::calloc(blockFrames, BLOCK_ALIGN)), blockFrames};
    return self.captureEvent != nullptr && self.quitEvent != nullptr &&
           self.scratch.input != nullptr && self.scratch.output != nullptr &&
           InitializeClient(self.captureClient, duration, AUDCLNT_STREAMFLAGS_EVENTCALLBACK) &&
           InitializeClient(self.renderClient, renderDuration, 0) &&
           SUCCEEDED(self.captureClient->SetEventHandle(self.captureEvent)) &&
           SUCCEEDED(self.renderClient->GetBufferSize(&self.renderFrames)) &&
           SUCCEEDED(self.captureClient->GetService(__uuidof(IAudioCaptureClient),
                                                    reinterpret_cast<void**>(&self.capture))) &&
           SUCCEEDED(self.renderClient->GetService(__uuidof(IAudioRenderClient),
                                                   reinterpret_cast<void**>(&self.render)));
}

void QuitThread(StreamRun& run) {
    SetEvent(Of(&run).quitEvent);
}

// Ends the thread (a thread still inside the effect keeps the run), stops the devices and lets
// go of the run.
void CloseWasapiRun(StreamRun* base, uint32_t waitMs) {
    WasapiRun& self = Of(base);
    if (self.thread != nullptr) {
        EndRunThread(*base, self.thread, QuitThread, waitMs);
        self.thread = nullptr;
    }
    if (self.captureClient != nullptr) {
        self.captureClient->Stop();
    }
    if (self.renderClient != nullptr) {
        self.renderClient->Stop();
    }
    ReleaseRun(base);
}

StreamRun* OpenWasapiRun(const wchar_t* captureName, const wchar_t* playbackName, int32_t ms) {
    EnsureComOnThisThread();
    FindProAudio();
    IMMDevice* captureEndpoint = FindWasapiEndpoint(DeviceKind::Capture, captureName);
    IMMDevice* renderEndpoint = FindWasapiEndpoint(DeviceKind::Playback, playbackName);
    WasapiRun* self = new WasapiRun{};
    self->base.system = self;
    self->base.freeRun = FreeWasapiRun;
    const bool prepared = PrepareRun(*self, captureEndpoint, renderEndpoint, ms);
    Release(captureEndpoint);
    Release(renderEndpoint);
    if (!prepared) {
        DebugOutput(L"Kawauso04: a WASAPI endpoint did not open\n");
        ReleaseRun(&self->base);
        return nullptr;
    }
    HoldRun(self->base);
    unsigned id = 0;
    self->thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WasapiThreadProc, self, 0, &id));
    if (self->thread == nullptr) {
        ReleaseRun(&self->base); // the thread's hold
        ReleaseRun(&self->base);
        return nullptr;
    }
    return &self->base;
}

bool StartWasapiRun(StreamRun* base) {
    WasapiRun& self = Of(base);
    return SUCCEEDED(self.renderClient->Start()) && SUCCEEDED(self.captureClient->Start());
}

void MarkWasapiFadeOutStart(StreamRun* base) {
    Of(base).fadeOutWritten.store(0);
}

bool WasapiFadeOutPlayed(StreamRun* base) {
    WasapiRun& self = Of(base);
    return self.fadeOutWritten.load() != 0 &&
           static_cast<int32_t>(GetTickCount() - self.fadeOutDueTick.load()) >= 0;
}

} // namespace

const StreamBackend WASAPI_BACKEND = {OpenWasapiRun, StartWasapiRun, CloseWasapiRun,
                                      MarkWasapiFadeOutStart, WasapiFadeOutPlayed};
