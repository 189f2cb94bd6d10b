#include "tests/app/audio_probe.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cwchar>

namespace {

WAVEFORMATEX StreamFormat() {
    WAVEFORMATEX f = {};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = 44100;
    f.nAvgBytesPerSec = 176400;
    f.nBlockAlign = 4;
    f.wBitsPerSample = 16;
    return f;
}

}  // namespace

int FindCaptureDevice(const wchar_t* name) {
    for (UINT id = 0; id < waveInGetNumDevs(); ++id) {
        WAVEINCAPSW caps;
        if (waveInGetDevCapsW(id, &caps, sizeof caps) == MMSYSERR_NOERROR &&
            std::wcscmp(caps.szPname, name) == 0) {
            return static_cast<int>(id);
        }
    }
    return -1;
}

int FindPlaybackDevice(const wchar_t* name) {
    for (UINT id = 0; id < waveOutGetNumDevs(); ++id) {
        WAVEOUTCAPSW caps;
        if (waveOutGetDevCapsW(id, &caps, sizeof caps) == MMSYSERR_NOERROR &&
            std::wcscmp(caps.szPname, name) == 0) {
            return static_cast<int>(id);
        }
    }
    return -1;
}

int FindComboItem(HWND combo, const wchar_t* text) {
    LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t item[256] = {};
        if (SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 255) {
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
            if (std::wcscmp(item, text) == 0) {
                return static_cast<int>(i);
            }
        }
    }
    return -1;
}

bool TonePlayer::Start(const wchar_t* device, double frequency, double amplitude) {
    int id = FindPlaybackDevice(device);
    if (id < 0) {
        return false;
    }
    WAVEFORMATEX format = StreamFormat();
    if (waveOutOpen(&out_, static_cast<UINT>(id), &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        out_ = nullptr;
        return false;
    }
    const size_t frames = 44100;  // one second, a whole number of periods for whole-Hz tones
    samples_.resize(frames * 2);
    for (size_t k = 0; k < frames; ++k) {
        double v = amplitude * std::sin(2.0 * 3.14159265358979323846 * frequency *
                                        static_cast<double>(k) / 44100.0);
        samples_[2 * k] = samples_[2 * k + 1] = static_cast<int16_t>(v);
    }
    header_ = {};
    header_.lpData = reinterpret_cast<char*>(samples_.data());
    header_.dwBufferLength = static_cast<DWORD>(samples_.size() * 2);
    header_.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    header_.dwLoops = 100000;
    waveOutPrepareHeader(out_, &header_, sizeof header_);
    waveOutWrite(out_, &header_, sizeof header_);
    return true;
}

void TonePlayer::Stop() {
    if (out_ != nullptr) {
        waveOutReset(out_);
        waveOutUnprepareHeader(out_, &header_, sizeof header_);
        waveOutClose(out_);
        out_ = nullptr;
    }
}

bool Recorder::Start(const wchar_t* device) {
    int id = FindCaptureDevice(device);
    if (id < 0) {
        return false;
    }
    WAVEFORMATEX format = StreamFormat();
    if (waveInOpen(&in_, static_cast<UINT>(id), &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        in_ = nullptr;
        return false;
    }
    for (int i = 0; i < BUFFERS; ++i) {
        data_[i].assign(FRAMES_PER_BUFFER * 2, 0);
        headers_[i] = {};
        headers_[i].lpData = reinterpret_cast<char*>(data_[i].data());
        headers_[i].dwBufferLength = FRAMES_PER_BUFFER * 4;
        waveInPrepareHeader(in_, &headers_[i], sizeof(WAVEHDR));
        waveInAddBuffer(in_, &headers_[i], sizeof(WAVEHDR));
    }
    next_ = 0;
    taken_.clear();
    waveInStart(in_);
    return true;
}

void Recorder::Collect() {
    while ((headers_[next_].dwFlags & WHDR_DONE) != 0) {
        WAVEHDR& h = headers_[next_];
        taken_.insert(taken_.end(), data_[next_].begin(), data_[next_].begin() + h.dwBytesRecorded / 2);
        h.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
        waveInAddBuffer(in_, &h, sizeof(WAVEHDR));
        next_ = (next_ + 1) % BUFFERS;
    }
}

std::vector<int16_t> Recorder::Take(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        Collect();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {  // keep our own windows alive
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
    Collect();
    std::vector<int16_t> out;
    out.swap(taken_);
    return out;
}

void Recorder::Stop() {
    if (in_ != nullptr) {
        waveInReset(in_);
        for (int i = 0; i < BUFFERS; ++i) {
            waveInUnprepareHeader(in_, &headers_[i], sizeof(WAVEHDR));
        }
        waveInClose(in_);
        in_ = nullptr;
    }
}

double DominantFrequency(const std::vector<int16_t>& stereo, double lo, double hi) {
    const size_t frames = stereo.size() / 2;
    double best = 0.0, bestPower = -1.0;
    for (double f = lo; f <= hi; f += 1.0) {
        // Goertzel over the left channel.
        const double w = 2.0 * 3.14159265358979323846 * f / 44100.0;
        const double coeff = 2.0 * std::cos(w);
        double s1 = 0.0, s2 = 0.0;
        for (size_t k = 0; k < frames; ++k) {
            double s0 = stereo[2 * k] + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        if (power > bestPower) {
            bestPower = power;
            best = f;
        }
    }
    return best;
}

double Rms(const std::vector<int16_t>& stereo, size_t firstFrame, size_t frames) {
    double sum = 0.0;
    size_t n = 0;
    for (size_t k = firstFrame; k < firstFrame + frames && 2 * k + 1 < stereo.size(); ++k, ++n) {
        sum += static_cast<double>(stereo[2 * k]) * stereo[2 * k];
    }
    return n == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(n));
}

int PeakAbs(const std::vector<int16_t>& stereo, size_t firstFrame, size_t frames) {
    int peak = 0;
    for (size_t k = firstFrame; k < firstFrame + frames && 2 * k + 1 < stereo.size(); ++k) {
        peak = std::max(peak, std::abs(static_cast<int>(stereo[2 * k])));
    }
    return peak;
}
