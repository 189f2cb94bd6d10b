// The stream through WASAPI: an event-driven shared-mode capture client and a shared-mode
// render client on the endpoints found by name, and an audio thread of its own that runs each
// captured packet through ProcessBlock as it comes and writes the result into the render
// buffer at once. There is no buffer of our own on top of the system's: the playback queue
// holds the render buffer's fill at its target (resampling for a second clock) and hands the
// block straight on. That is the latency WinMM cannot give.
#include "audio/stream_backend.h"
#include "audio/stream_meters.h"

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
#include "audio/engine_state.h"
#include "audio/packet_processing.h"
#include "audio/playback_queue.h"
#include "audio/stream_state.h"
#include "audio/wasapi_devices.h"
#include "platform/platform.h"
#include "platform/system_library.h"
#include "plugin/plugin_call_watch.h"

namespace {

constexpr REFERENCE_TIME HNS_PER_MS = 10000;
constexpr REFERENCE_TIME HNS_PER_SECOND = 10000000;
// Room for a queue raised by stalls and the burst after the next one: what a plain passthrough
// gives (an emptier buffer costs no delay, only what is written into it does).
constexpr UINT32 MIN_RENDER_PERIODS = 50;
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
    IAudioClock* clock;
    HANDLE captureEvent;
    HANDLE renderEvent; // set by the engine at each of its passes
    HANDLE quitEvent;
    HANDLE thread;
    UINT32 renderFrames; // the render buffer's size
    uint32_t periodMs;
    PacketScratch scratch;   // blocks of at most the engine's period
    int16_t* queueOutput;    // what the queue hands on of one block
    uint64_t clockFrequency; // the clock's units per second
    uint32_t latencyMs;      // the engine's own, after its clock
    // The audio thread's view of playback: frames written (silence included) and taken.
    uint64_t framesWritten;
    uint64_t framesTaken;
    uint64_t takenAtLastPass; // as the engine's last pass left it
    uint64_t lastPassUs;
    uint64_t lastWakeUs; // this thread's last wake-up, for any event
    bool starved;        // the engine's last pass found nothing new: one break, however long
    bool cushionDue;     // an underrun since the last write: the queue may stand a block higher
    // The fade-out's end: the stream position that follows the block that carried it, and when
    // the clock was first seen there.
    std::atomic<int32_t> fadeOutWritten;
    std::atomic<uint64_t> fadeOutEndFrame;
    uint32_t fadeOutReachedTick;
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

// What the engine has taken so far, from the padding it reports; false when the device refused.
// The engine having taken something since it was last looked at is the sign that playback
// moves: a device that went away may go on taking nothing.
bool LookAtRender(WasapiRun& self, UINT32& padding) {
    if (FAILED(self.renderClient->GetCurrentPadding(&padding))) {
        self.base.deviceCallFailed.store(1);
        return false;
    }
    const uint64_t taken = self.framesWritten - padding;
    if (taken != self.framesTaken) {
        self.framesTaken = taken;
        self.base.playbackProgressTick.store(GetTickCount());
    }
    return true;
}

uint64_t MicrosecondsNow() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(now.QuadPart) / static_cast<uint64_t>(frequency.QuadPart) *
               1000000u +
           static_cast<uint64_t>(now.QuadPart) % static_cast<uint64_t>(frequency.QuadPart) *
               1000000u / static_cast<uint64_t>(frequency.QuadPart);
}

// One pass of the engine (its event), with the buffer empty now: a pass found nothing new to
// play when this one took nothing, or when more passes went by since the last one looked at
// (this thread woke late) than the blocks taken meanwhile, by half a period's leeway. Once the
// engine has taken something, that is an underrun: one for each run of such passes, as it is
// one break to the ear. The first time in a run the next write puts one block of silence ahead,
// so the buffer holds one block more from then on.
void NoteRenderPass(WasapiRun& self) {
    UINT32 padding = 0;
    if (!LookAtRender(self, padding)) {
        return;
    }
    const uint64_t now = MicrosecondsNow();
    const uint64_t took = self.framesTaken - self.takenAtLastPass;
    const uint64_t blocksTaken = (took + self.scratch.blockFrames - 1) / self.scratch.blockFrames;
    const uint64_t periodUs = static_cast<uint64_t>(self.periodMs) * 1000u;
    const bool missed =
        padding == 0 && self.takenAtLastPass != 0 &&
        (took == 0 || 2 * (now - self.lastPassUs) > (2 * blocksTaken + 3) * periodUs);
    if (missed && !self.starved) {
        CountUnderrun(self.base);
        self.cushionDue = true;
    }
    self.starved = missed || (self.starved && took == 0);
    self.takenAtLastPass = self.framesTaken;
    self.lastPassUs = now;
}

// The frames written and not yet played, as if the engine played them as it goes: what the
// buffer holds, and what the last pass took, less what has played of that since. The padding
// alone moves by whole periods, and which period a write falls in wanders with the phase of
// the engine's passes against the capture's. A pass this thread has not woken for yet is placed
// a period after the last one it woke for: that stamp was as late as a wake-up is, so the
// reading is as long by it whether or not the thread has woken, and its error does not move
// with the phase (which the skew of two clocks turns, and the drift corrector would take for
// drift).
UINT32 Held(const WasapiRun& self, UINT32 padding) {
    if (self.lastPassUs == 0) {
        return padding;
    }
    const uint32_t period = self.scratch.blockFrames;
    const uint64_t passesSince = (self.framesTaken - self.takenAtLastPass + period - 1) / period;
    const uint64_t passUs = self.lastPassUs + passesSince * period * 1000000u / SAMPLE_RATE;
    const uint64_t now = MicrosecondsNow();
    if (now < passUs) { // placed ahead of now by as late as the last stamp was: at most a period
        const uint64_t ahead = (passUs - now) * SAMPLE_RATE / 1000000u;
        return padding + period + static_cast<UINT32>(ahead < period ? ahead : period);
    }
    const uint64_t sincePass = (now - passUs) * SAMPLE_RATE / 1000000u;
    return padding + (sincePass < period ? period - static_cast<UINT32>(sincePass) : 0);
}

// Every wake-up, timed from the one before: a stall of the process shows here. Beside a plain
// passthrough on a busy machine each gap of 20 ms or more broke the sound, though the engine's
// padding never showed it empty; the queue keeps what the stall's burst brings (PlaybackQueue).
// One break, however the pass after it reads.
void NoteWakeUp(WasapiRun& self) {
    const uint64_t now = MicrosecondsNow();
    const uint64_t gapUs = self.lastWakeUs != 0 ? now - self.lastWakeUs : 0;
    self.lastWakeUs = now;
    if (self.base.queue.NoteWakeUpGap(gapUs * SAMPLE_RATE / 1000000u)) {
        if (!self.starved) {
            CountUnderrun(self.base);
        }
        self.starved = true;
    }
}

bool PutCounted(WasapiRun& self, const int16_t* samples, UINT32 frames) {
    if (!Put(self, samples, frames)) {
        self.base.deviceCallFailed.store(1);
        return false;
    }
    self.framesWritten += frames;
    return true;
}

// Writes a processed block at once, through the queue that holds the render buffer at its
// target; silence goes ahead of the first block (the target) and after an underrun (a block
// more from then on, the first times in a run). A block that does not fit is dropped.
void WriteRender(WasapiRun& self, const int16_t* block, UINT32 frames) {
    self.base.lastCaptureTick.store(GetTickCount()); // alive after a long block too
    UINT32 padding = 0;
    if (!LookAtRender(self, padding)) {
        return;
    }
    UINT32 silence = self.base.queue.TakeStartFill();
    if (self.cushionDue && self.renderFrames - padding >= silence + 2 * frames) {
        self.cushionDue = false;
        silence += self.base.queue.Raise(self.scratch.blockFrames) ? self.scratch.blockFrames : 0;
    }
    if (silence > 0 && self.renderFrames - padding >= silence + frames) {
        if (!PutCounted(self, nullptr, silence)) {
            return;
        }
        padding += silence;
    }
    const uint32_t held = Held(self, padding);
    const UINT32 out = self.base.queue.Process(block, frames, held, self.queueOutput);
    MeterQueue({held, self.base.queue.TargetFrames(), self.base.queue.ShownClockRatioPpm(),
                self.base.queue.AppliedPpm(), frames});
    if (self.base.queue.SplicedFrames() != 0 || self.renderFrames - padding < out) {
        CountOverrun(self.base);
    }
    if (out == 0 || self.renderFrames - padding < out || !PutCounted(self, self.queueOutput, out)) {
        return;
    }
    NoteBlockPlayed(self.base);
    if (FadeOutEnded(fadePair.load()) && self.fadeOutWritten.load() == 0) {
        self.fadeOutEndFrame.store(self.framesWritten);
        self.fadeOutWritten.store(1);
    }
}

// Each processed block, written at once.
void PlayProcessed(void* context, const int16_t* block, uint32_t frames) {
    WriteRender(*static_cast<WasapiRun*>(context), block, frames);
}

// Everything captured so far. False as ProcessPacket: this thread was left behind.
bool DrainCapture(WasapiRun& self) {
    if (withholdCapture.load()) {
        return true; // left in the device's buffer, as a thread that does not come would
    }
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
            NoteCaptureArrival(self.base, GetTickCount());
            const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
            if (!ProcessPacket(self.scratch, silent ? nullptr : data, frames, PlayProcessed,
                               &self)) {
                return false;
            }
            SettleCaptureGap(self.base, (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0);
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
    // The engine's pass first when both came: it is judged on what was written before it.
    const HANDLE waits[] = {self.quitEvent, self.renderEvent, self.captureEvent};
    for (;;) {
        const uint32_t late = lateWakeUpMs.exchange(0);
        if (late != 0) {
            Sleep(late);
        }
        const DWORD woken = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
        NoteWakeUp(self);
        if (woken == WAIT_OBJECT_0 + 1) {
            NoteRenderPass(self);
        } else if (woken != WAIT_OBJECT_0 + 2 || !DrainCapture(self)) {
            break; // quit, or left behind: the run is not ours any more
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
    Release(self->clock);
    Release(self->captureClient);
    Release(self->renderClient);
    for (HANDLE event : {self->captureEvent, self->renderEvent, self->quitEvent}) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
    std::free(self->scratch.input);
    std::free(self->scratch.output);
    std::free(self->queueOutput);
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
    self.renderEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    self.quitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    self.scratch = {static_cast<int16_t*>(std::calloc(blockFrames, BLOCK_ALIGN)),
                    static_cast<int16_t*>(std::calloc(blockFrames, BLOCK_ALIGN)), blockFrames};
    self.queueOutput = static_cast<int16_t*>(
        std::calloc(PlaybackQueue::MaxOutputFrames(blockFrames), BLOCK_ALIGN));
    self.base.queue.Start(WasapiQueueSettings(blockFrames));
    REFERENCE_TIME latency = 0;
    const bool ok =
        self.captureEvent != nullptr && self.renderEvent != nullptr && self.quitEvent != nullptr &&
        self.scratch.input != nullptr && self.scratch.output != nullptr &&
        self.queueOutput != nullptr &&
        InitializeClient(self.captureClient, duration, AUDCLNT_STREAMFLAGS_EVENTCALLBACK) &&
        !refuseRenderClient.load() &&
        InitializeClient(self.renderClient, renderDuration, AUDCLNT_STREAMFLAGS_EVENTCALLBACK) &&
        SUCCEEDED(self.captureClient->SetEventHandle(self.captureEvent)) &&
        SUCCEEDED(self.renderClient->SetEventHandle(self.renderEvent)) &&
        SUCCEEDED(self.renderClient->GetStreamLatency(&latency)) &&
        SUCCEEDED(self.renderClient->GetService(__uuidof(IAudioClock),
                                                reinterpret_cast<void**>(&self.clock))) &&
        SUCCEEDED(self.clock->GetFrequency(&self.clockFrequency)) && self.clockFrequency != 0 &&
        SUCCEEDED(self.renderClient->GetBufferSize(&self.renderFrames)) &&
        SUCCEEDED(self.captureClient->GetService(__uuidof(IAudioCaptureClient),
                                                 reinterpret_cast<void**>(&self.capture))) &&
        SUCCEEDED(self.renderClient->GetService(__uuidof(IAudioRenderClient),
                                                reinterpret_cast<void**>(&self.render)));
    self.latencyMs = static_cast<uint32_t>((latency + HNS_PER_MS - 1) / HNS_PER_MS);
    return ok;
}

void QuitThread(StreamRun& run) {
    SetEvent(Of(&run).quitEvent);
}

// Ends the thread (a thread still inside the effect keeps the run), stops the devices and lets
// go of the run.
void CloseWasapiRun(StreamRun* base, uint32_t waitMs) {
    WasapiRun& self = Of(base);
    UnwatchEndpoints(&base->deviceCallFailed);
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
    // A removed endpoint fails the run at once rather than after its stall limit.
    for (IMMDevice* endpoint : {captureEndpoint, renderEndpoint}) {
        wchar_t* id = prepared ? EndpointId(endpoint) : nullptr;
        if (id != nullptr) {
            WatchEndpoint(id, &self->base.deviceCallFailed);
            CoTaskMemFree(id);
        }
    }
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
        UnwatchEndpoints(&self->base.deviceCallFailed);
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
    WasapiRun& self = Of(base);
    self.fadeOutWritten.store(0);
    self.fadeOutReachedTick = 0;
}

// By the engine's clock: its position has passed the fade's end, and the engine's own latency
// after that has gone by too (a clock that already counts it only makes the stop that much
// later).
bool WasapiFadeOutPlayed(StreamRun* base) {
    WasapiRun& self = Of(base);
    UINT64 position = 0;
    if (self.fadeOutWritten.load() == 0 || FAILED(self.clock->GetPosition(&position, nullptr))) {
        return false;
    }
    const uint64_t frames = position * SAMPLE_RATE / self.clockFrequency;
    const uint32_t now = GetTickCount();
    if (self.fadeOutReachedTick == 0 && frames >= self.fadeOutEndFrame.load()) {
        self.fadeOutReachedTick = now | 1; // 0 means "not yet"
    }
    return self.fadeOutReachedTick != 0 && now - self.fadeOutReachedTick >= self.latencyMs;
}

} // namespace

const StreamBackend WASAPI_BACKEND = {OpenWasapiRun, StartWasapiRun, CloseWasapiRun,
                                      MarkWasapiFadeOutStart, WasapiFadeOutPlayed};
