// The Win32 half of the engine state: the stream format record, the two devices, the sixteen
// buffers and the audio thread of one run, and what the audio thread reports of the run's
// health.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

#include "audio/audio_format.h"
#include "audio/engine_state.h"

extern WAVEFORMATEX waveFormat;
extern HWAVEIN waveIn;
extern HWAVEOUT waveOut;
extern WAVEHDR captureHeaders[BUFFER_COUNT];
extern WAVEHDR playbackHeaders[BUFFER_COUNT];
extern char* captureBuffers[BUFFER_COUNT];
extern char* playbackBuffers[BUFFER_COUNT];
extern HANDLE audioThread;
extern DWORD audioThreadId;

// Written by the audio thread, read by the window's watchdog.
extern std::atomic<uint32_t> lastCaptureTick;      // when a capture buffer last arrived or was done
extern std::atomic<int32_t> captureSeen;           // 1 once the run's first capture buffer arrived
extern std::atomic<int32_t> deviceCallFailed;      // 1 once a write or a re-queue was refused
extern std::atomic<uint32_t> playbackProgressTick; // when a playback header was last free
// The playback header that carried the end of the fade-out, -1 until it was written.
extern std::atomic<int32_t> fadeOutHeader;

// Since program start, over every run.
struct StreamCounters {
    std::atomic<uint32_t> restarts;    // by the watchdog
    std::atomic<uint32_t> captureGaps; // a capture buffer more than a buffer length late
    std::atomic<uint32_t> underruns;   // playback ran dry before the next block was written
    std::atomic<uint32_t> overruns;    // a block dropped: its playback header was still queued
};
extern StreamCounters streamCounters;

// Test seams for what the virtual devices cannot do on demand: a capture device that stops
// delivering (its notifications are dropped, its buffers never handed back) and a playback
// write the device refuses. Null / false in the program.
extern std::atomic<bool> withholdCapture;
using WaveOutWriteProc = MMRESULT(WINAPI*)(HWAVEOUT, LPWAVEHDR, UINT);
extern WaveOutWriteProc playbackWrite;
// The program's playbackWrite: the system's waveOutWrite.
MMRESULT WINAPI SystemWaveOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT size);

// The fixed stream format as the sound systems take it.
WAVEFORMATEX StreamWaveFormat();
// Fills waveFormat with it.
void FillWaveFormat();

// The audio thread's note of a captured block arriving at now: a gap when it came more than
// lateAfterMs after the one before (lastArrival, the thread's own), the capture alive, and
// playback measured from the run's first block on.
void NoteCaptureArrival(uint32_t now, uint32_t lateAfterMs, uint32_t& lastArrival);

// True when the fade-out a stop started has run to its end: the block just made carried it.
inline bool FadeOutEnded(const FadePair& fade) {
    return fade.fadeTarget < 0 && fade.fadeCounter == 0;
}
