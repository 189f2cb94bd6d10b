#include "audio/stream_backend.h"

#include <windows.h>
#include <mmsystem.h>

#include "audio/audio_thread.h"
#include "audio/stream_state.h"
#include "audio/wave_devices.h"
#include "audio/winmm.h"
#include "plugin/plugin_call_watch.h"

namespace {

WinmmRun& Of(StreamRun* run) {
    return *static_cast<WinmmRun*>(run->system);
}

void QuitThread(StreamRun& run) {
    PostThreadMessageW(Of(&run).threadId, WM_QUIT, 0, 0);
}

// Ends the thread, stops and closes both devices and lets go of the run. A thread left behind
// keeps its run: the devices close, the headers are done with, the buffers stay.
void CloseWaveRun(StreamRun* base, uint32_t waitMs) {
    WinmmRun& run = Of(base);
    if (run.thread != nullptr) {
        EndRunThread(*base, run.thread, QuitThread, waitMs);
        run.thread = nullptr;
    }
    if (run.waveIn != nullptr) {
        Winmm().waveInReset(run.waveIn);
    }
    if (run.waveOut != nullptr) {
        Winmm().waveOutReset(run.waveOut);
    }
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        if (run.waveIn != nullptr && (run.captureHeaders[i].dwFlags & WHDR_PREPARED) != 0) {
            Winmm().waveInUnprepareHeader(run.waveIn, &run.captureHeaders[i], sizeof(WAVEHDR));
        }
        if (run.waveOut != nullptr && (run.playbackHeaders[i].dwFlags & WHDR_PREPARED) != 0) {
            Winmm().waveOutUnprepareHeader(run.waveOut, &run.playbackHeaders[i], sizeof(WAVEHDR));
        }
    }
    if (run.waveIn != nullptr) {
        Winmm().waveInClose(run.waveIn);
        run.waveIn = nullptr;
    }
    if (run.waveOut != nullptr) {
        Winmm().waveOutClose(run.waveOut);
        run.waveOut = nullptr;
    }
    ReleaseRun(base);
}

bool PrepareHeaders(WinmmRun& run) {
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        if (Winmm().waveInPrepareHeader(run.waveIn, &run.captureHeaders[i], sizeof(WAVEHDR)) !=
                MMSYSERR_NOERROR ||
            Winmm().waveInAddBuffer(run.waveIn, &run.captureHeaders[i], sizeof(WAVEHDR)) !=
                MMSYSERR_NOERROR ||
            Winmm().waveOutPrepareHeader(run.waveOut, &run.playbackHeaders[i], sizeof(WAVEHDR)) !=
                MMSYSERR_NOERROR) {
            return false;
        }
    }
    return true;
}

StreamRun* OpenWaveRun(const wchar_t* captureName, const wchar_t* playbackName, int32_t ms) {
    UINT captureId = 0, playbackId = 0;
    if (!FindWaveDevice(DeviceKind::Capture, captureName, &captureId) ||
        !FindWaveDevice(DeviceKind::Playback, playbackName, &playbackId)) {
        return nullptr;
    }
    WinmmRun* run = NewWinmmRun(BufferBytesForMs(ms));
    if (run == nullptr) {
        return nullptr;
    }
    run->wave.base.periodMs = static_cast<uint32_t>(ms);
    run->wave.base.blockBytes = run->bufferBytes;
    if (!StartAudioThread(*run)) {
        ReleaseRun(&run->wave.base);
        return nullptr;
    }
    WAVEFORMATEX format = StreamWaveFormat();
    const bool opened = Winmm().waveInOpen(&run->waveIn, captureId, &format, run->threadId, 0,
                                           CALLBACK_THREAD) == MMSYSERR_NOERROR;
    if (!opened) {
        run->waveIn = nullptr;
    }
    if (!opened || Winmm().waveOutOpen(&run->waveOut, playbackId, &format, 0, 0, CALLBACK_NULL) !=
                       MMSYSERR_NOERROR) {
        run->waveOut = nullptr;
        CloseWaveRun(&run->wave.base, pluginHangFloorMs);
        return nullptr;
    }
    if (!PrepareHeaders(*run)) {
        CloseWaveRun(&run->wave.base, pluginHangFloorMs);
        return nullptr;
    }
    return &run->wave.base;
}

bool StartWaveRun(StreamRun* run) {
    return Winmm().waveInStart(Of(run).waveIn) == MMSYSERR_NOERROR;
}

void MarkWaveFadeOutStart(StreamRun* run) {
    Of(run).wave.fadeOutHeader.store(-1);
}

bool WaveRunFadeOutPlayed(StreamRun* run) {
    return WaveFadeOutPlayed(Of(run).wave);
}

} // namespace

const StreamBackend WAVE_BACKEND = {OpenWaveRun, StartWaveRun, CloseWaveRun, MarkWaveFadeOutStart,
                                    WaveRunFadeOutPlayed};
