// The Win32 half of the engine state: the stream format record, the two devices, the sixteen
// buffers and the audio thread of one run.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "audio/audio_format.h"

extern WAVEFORMATEX waveFormat;
extern HWAVEIN waveIn;
extern HWAVEOUT waveOut;
extern WAVEHDR captureHeaders[BUFFER_COUNT];
extern WAVEHDR playbackHeaders[BUFFER_COUNT];
extern char* captureBuffers[BUFFER_COUNT];
extern char* playbackBuffers[BUFFER_COUNT];
extern HANDLE audioThread;
extern DWORD audioThreadId;

// Fills waveFormat with the fixed stream format.
void FillWaveFormat();
