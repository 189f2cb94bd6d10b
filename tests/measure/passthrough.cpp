// The floor the stream is measured against: capture to playback as the program's stream does it
// (the same device lookup and buffers, a time-critical thread writing each block at once) with
// nothing in between.   kawauso-passthrough winmm|wasapi CAPTURE PLAYBACK MS SECONDS
// Prints "started" once the devices run, runs for SECONDS and exits 0; 2 when they do not open.
// At its end it prints "reported delay X ms": what the APIs said stood between capture and the
// ear at each write (the block captured and what the playback device held ahead of it), the
// mean over the writes after the first 2 s, as the program's monitor reckons its own; the rest
// of a recording's delay is the sound server's and the wiring's.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "audio/audio_format.h"
#include "audio/stream_state.h"
#include "audio/wasapi_devices.h"
#include "audio/wave_devices.h"

namespace {

constexpr char STARTED[] = "started\n"; // what the measuring script waits for
constexpr DWORD SETTLED_MS = 2000;

// The reported delay's mean over the writes after the first 2 s.
struct ReportedDelay {
    DWORD start = GetTickCount();
    double sumFrames = 0.0;
    uint32_t writes = 0;
    void Add(uint32_t frames) {
        if (GetTickCount() - start >= SETTLED_MS) {
            sumFrames += frames;
            ++writes;
        }
    }
    ~ReportedDelay() {
        std::printf("reported delay %.1f ms\n",
                    writes != 0 ? sumFrames / writes * 1000.0 / SAMPLE_RATE : 0.0);
    }
};

int RunWinmm(const wchar_t* captureName, const wchar_t* playbackName, int ms, DWORD seconds) {
    UINT in = 0, out = 0;
    WAVEFORMATEX format = StreamWaveFormat();
    HWAVEIN waveIn = nullptr;
    HWAVEOUT waveOut = nullptr;
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // the queue, before the open
    if (!FindWaveDevice(DeviceKind::Capture, captureName, &in) ||
        !FindWaveDevice(DeviceKind::Playback, playbackName, &out) ||
        waveInOpen(&waveIn, in, &format, GetCurrentThreadId(), 0, CALLBACK_THREAD) != 0 ||
        waveOutOpen(&waveOut, out, &format, 0, 0, CALLBACK_NULL) != 0) {
        return 2;
    }
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    const uint32_t bytes = BufferBytesForMs(ms);
    std::vector<char> memory(2 * BUFFER_COUNT * bytes);
    WAVEHDR capture[BUFFER_COUNT] = {}, playback[BUFFER_COUNT] = {};
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        capture[i].lpData = &memory[i * bytes];
        playback[i].lpData = &memory[(BUFFER_COUNT + i) * bytes];
        capture[i].dwBufferLength = playback[i].dwBufferLength = bytes;
        waveInPrepareHeader(waveIn, &capture[i], sizeof(WAVEHDR));
        waveInAddBuffer(waveIn, &capture[i], sizeof(WAVEHDR));
        waveOutPrepareHeader(waveOut, &playback[i], sizeof(WAVEHDR));
    }
    waveInStart(waveIn);
    std::fputs(STARTED, stdout);
    SetTimer(nullptr, 0, seconds * 1000, nullptr);
    ReportedDelay reported;
    uint32_t framesWritten = 0;
    for (int next = 0; GetMessageW(&msg, nullptr, 0, 0) > 0 && msg.message != WM_TIMER;) {
        if (msg.message == MM_WIM_DATA) {
            WAVEHDR* recorded = reinterpret_cast<WAVEHDR*>(msg.lParam);
            MMTIME played = {};
            played.wType = TIME_SAMPLES;
            waveOutGetPosition(waveOut, &played, sizeof played);
            const uint32_t frames = recorded->dwBytesRecorded / BLOCK_ALIGN;
            reported.Add(framesWritten - played.u.sample + frames);
            framesWritten += frames;
            std::memcpy(playback[next].lpData, recorded->lpData, recorded->dwBytesRecorded);
            playback[next].dwBufferLength = recorded->dwBytesRecorded;
            waveOutWrite(waveOut, &playback[next], sizeof(WAVEHDR));
            next = (next + 1) % BUFFER_COUNT;
            waveInAddBuffer(waveIn, recorded, sizeof(WAVEHDR));
        }
    }
    waveInReset(waveIn);
    waveOutReset(waveOut);
    return 0;
}

IAudioClient* Open(DeviceKind kind, const wchar_t* name, REFERENCE_TIME duration, HANDLE event) {
    IMMDevice* endpoint = FindWasapiEndpoint(kind, name);
    IAudioClient* client = nullptr;
    WAVEFORMATEX format = StreamWaveFormat();
    if (endpoint == nullptr ||
        FAILED(endpoint->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                  reinterpret_cast<void**>(&client))) ||
        FAILED(client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                                  duration, 0, &format, nullptr)) ||
        FAILED(client->SetEventHandle(event))) {
        return nullptr;
    }
    return client;
}

int RunWasapi(const wchar_t* captureName, const wchar_t* playbackName, int ms, DWORD seconds) {
    EnsureComOnThisThread();
    const REFERENCE_TIME duration = ms * 10000, period = 100000; // Wine's engine period
    HANDLE captured = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE passed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    IAudioClient* input = Open(DeviceKind::Capture, captureName, duration, captured);
    // Room for whatever delay Wine's own breaks leave behind, so that it never drops a packet:
    // every break it has is Wine's.
    IAudioClient* output = Open(DeviceKind::Playback, playbackName, 50 * period, passed);
    IAudioCaptureClient* capture = nullptr;
    IAudioRenderClient* render = nullptr;
    UINT32 size = 0;
    if (input == nullptr || output == nullptr ||
        FAILED(
            input->GetService(__uuidof(IAudioCaptureClient), reinterpret_cast<void**>(&capture))) ||
        FAILED(
            output->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&render))) ||
        FAILED(output->GetBufferSize(&size))) {
        return 2;
    }
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    output->Start();
    input->Start();
    std::fputs(STARTED, stdout);
    ReportedDelay reported;
    const HANDLE waits[] = {passed, captured};
    for (const DWORD start = GetTickCount(); GetTickCount() - start < seconds * 1000;) {
        BYTE *data = nullptr, *into = nullptr;
        UINT32 frames = 0, padding = 0;
        DWORD flags = 0;
        if (WaitForMultipleObjects(2, waits, FALSE, 1000) != WAIT_OBJECT_0 + 1) {
            continue;
        }
        while (capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr) == S_OK) {
            output->GetCurrentPadding(&padding);
            reported.Add(padding + frames);
            if (size - padding >= frames && SUCCEEDED(render->GetBuffer(frames, &into))) {
                std::memcpy(into, data, frames * BLOCK_ALIGN);
                render->ReleaseBuffer(frames, flags & AUDCLNT_BUFFERFLAGS_SILENT);
            }
            capture->ReleaseBuffer(frames);
        }
    }
    input->Stop();
    output->Stop();
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        std::fprintf(stderr,
                     "usage: kawauso-passthrough winmm|wasapi CAPTURE PLAYBACK MS SECONDS\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0); // "started" as it happens
    const int ms = _wtoi(argv[4]);
    const DWORD seconds = static_cast<DWORD>(_wtoi(argv[5]));
    return std::wcscmp(argv[1], L"wasapi") == 0 ? RunWasapi(argv[2], argv[3], ms, seconds)
                                                : RunWinmm(argv[2], argv[3], ms, seconds);
}
