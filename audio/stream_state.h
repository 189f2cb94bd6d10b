// The Win32 half of a stream run: the stream format record as the systems take it, one WinMM
// run (its two devices, sixteen headers and buffers, its thread), and the test seams for what
// the virtual devices cannot do on demand.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

#include "audio/audio_format.h"
#include "audio/engine_state.h"
#include "audio/stream_run.h"
#include "audio/wave_run.h"

extern WAVEFORMATEX waveFormat;

// One WinMM run. Made by the stream's open, held by its audio thread while that runs; a thread
// left behind keeps it, buffers and all, after the devices closed.
struct WinmmRun {
    WaveRun wave;
    HWAVEIN waveIn = nullptr;
    HWAVEOUT waveOut = nullptr;
    WAVEHDR captureHeaders[BUFFER_COUNT] = {};
    WAVEHDR playbackHeaders[BUFFER_COUNT] = {};
    char* captureBuffers[BUFFER_COUNT] = {};
    uint32_t bufferBytes = 0;
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    HANDLE ready = nullptr; // set once by the run's thread when its message queue exists
};

// A run with its sixteen zero-filled buffers of bytes each, its headers pointing at them (not
// prepared) and the seam to its playback headers wired; null when memory or an event cannot be
// had. Freed by the last ReleaseRun of run->wave.base.
WinmmRun* NewWinmmRun(uint32_t bytes);

// Test seams: a capture device that stops delivering (WinMM: its notifications are dropped,
// its buffers never handed back; WASAPI: its packets are left where they are) and a playback
// write the device refuses. False / the system's
// waveOutWrite in the program.
extern std::atomic<bool> withholdCapture;
using WaveOutWriteProc = MMRESULT(WINAPI*)(HWAVEOUT, LPWAVEHDR, UINT);
extern WaveOutWriteProc playbackWrite;
MMRESULT WINAPI SystemWaveOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT size);
// The same for WASAPI: a render client that cannot be set up (after the capture client was),
// and an audio thread that wakes up late once, by this many ms, as a busy machine makes it.
extern std::atomic<bool> refuseRenderClient;
extern std::atomic<uint32_t> lateWakeUpMs;

// The fixed stream format as the sound systems take it.
WAVEFORMATEX StreamWaveFormat();
// Fills waveFormat with it.
void FillWaveFormat();
