#include "audio/stream_state.h"

#include "audio/winmm.h"

WAVEFORMATEX waveFormat;
HWAVEIN waveIn;
HWAVEOUT waveOut;
WAVEHDR captureHeaders[BUFFER_COUNT];
WAVEHDR playbackHeaders[BUFFER_COUNT];
char* captureBuffers[BUFFER_COUNT];
char* playbackBuffers[BUFFER_COUNT];
HANDLE audioThread;
DWORD audioThreadId;

std::atomic<uint32_t> lastCaptureTick{0};
std::atomic<int32_t> captureSeen{0};
std::atomic<int32_t> deviceCallFailed{0};
std::atomic<uint32_t> playbackProgressTick{0};
std::atomic<int32_t> fadeOutHeader{-1};
StreamCounters streamCounters;

std::atomic<bool> withholdCapture{false};
WaveOutWriteProc playbackWrite = SystemWaveOutWrite;

MMRESULT WINAPI SystemWaveOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT size) {
    return Winmm().waveOutWrite(device, header, size);
}

WAVEFORMATEX StreamWaveFormat() {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = CHANNEL_COUNT;
    format.nSamplesPerSec = SAMPLE_RATE;
    format.nAvgBytesPerSec = AVG_BYTES_PER_SEC;
    format.nBlockAlign = BLOCK_ALIGN;
    format.wBitsPerSample = BITS_PER_SAMPLE;
    return format;
}

void FillWaveFormat() {
    waveFormat = StreamWaveFormat();
}

void NoteCaptureArrival(uint32_t now, uint32_t lateAfterMs, uint32_t& lastArrival) {
    if (captureSeen.load() != 0 && now - lastArrival > lateAfterMs) {
        streamCounters.captureGaps.fetch_add(1);
    }
    lastArrival = now;
    lastCaptureTick.store(now);
    if (captureSeen.load() == 0) {
        playbackProgressTick.store(now); // playback is measured from the first block on
        captureSeen.store(1);
    }
}
