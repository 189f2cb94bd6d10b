// Real WinMM devices for the stream tests: a tone played into one device, a recording taken
// from another, and what a listener would measure in it.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <vector>

// Device id by exact name, or -1.
int FindCaptureDevice(const wchar_t* name);
int FindPlaybackDevice(const wchar_t* name);

// Index of the item with exactly this text in a combo box, or -1.
int FindComboItem(HWND combo, const wchar_t* text);

// A stereo tone looped on a playback device until Stop().
class TonePlayer {
public:
    bool Start(const wchar_t* device, double frequency, double amplitude);
    void Stop();
    ~TonePlayer() { Stop(); }

private:
    HWAVEOUT out_ = nullptr;
    WAVEHDR header_ = {};
    std::vector<int16_t> samples_;
};

// Records interleaved stereo 16-bit samples from a capture device.
class Recorder {
public:
    bool Start(const wchar_t* device);
    // Returns what was recorded since Start (or the previous Take), waiting `ms` first.
    std::vector<int16_t> Take(DWORD ms);
    void Stop();
    ~Recorder() { Stop(); }

private:
    void Collect();
    static constexpr int BUFFERS = 16;
    static constexpr int FRAMES_PER_BUFFER = 2205;  // 50 ms
    HWAVEIN in_ = nullptr;
    WAVEHDR headers_[BUFFERS] = {};
    std::vector<int16_t> data_[BUFFERS];
    int next_ = 0;
    std::vector<int16_t> taken_;
};

// Left channel only. Frequency of the strongest component between lo and hi Hz (1 Hz steps).
double DominantFrequency(const std::vector<int16_t>& stereo, double lo, double hi);
double Rms(const std::vector<int16_t>& stereo, size_t firstFrame, size_t frames);
int PeakAbs(const std::vector<int16_t>& stereo, size_t firstFrame, size_t frames);
