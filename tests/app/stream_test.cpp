// The stream with real devices: a tone is played into TestMic, the program captures its
// monitor and plays to TestSpeaker, and the TestSpeaker monitor is recorded and measured.
//
// Wine adds 40-115 ms between capture and playback, the recording arrives about 200 ms after
// the sound, and the chain drops a few short pieces a minute. Levels are therefore taken as
// peaks or medians over windows, frequencies as the median of three 0.4 s windows, and every
// measurement waits long enough after the change it looks for.
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "res/resource.h"
#include "tests/app/audio_probe.h"
#include "tests/app/dialog_harness.h"
#include "tests/app/process_resources.h"

namespace {

constexpr wchar_t FEED_DEVICE[] = L"TestMic";
constexpr wchar_t CAPTURE_DEVICE[] = L"Monitor of TestMic";
constexpr wchar_t PLAYBACK_DEVICE[] = L"TestSpeaker";
constexpr wchar_t LISTEN_DEVICE[] = L"Monitor of TestSpeaker";

// Nine whole periods in the pitch stage's 20 ms ring: shifts come out as clean lines.
constexpr double TONE_HZ = 450.0;
constexpr double LOUD_TONE = 8000.0;
constexpr size_t FRAMES_PER_MS = 44;  // 44.1, rounded down: windows stay inside what was asked
constexpr size_t HALF_SECOND_FRAMES = 22050;
// A dropout's splice can move a measured line by a few hertz; one pitch step at 450 Hz is 1.6.
constexpr double FREQUENCY_TOLERANCE_HZ = 4.0;

// Long enough after a change for it to be heard and for its recording to have arrived.
constexpr DWORD SETTLE_MS = 500;
// The one-second fade-in, the stream's latency and the recording's delay.
constexpr DWORD FADE_IN_SETTLE_MS = 1500;
constexpr DWORD MEASURE_MS = 600;
constexpr DWORD TEARDOWN_LIMIT_MS = 2000;

struct ControlStates {
    bool captureList, playbackList, start, stop, bufferEdit, pluginButton;
    UINT trayStart, trayStop;  // MF_GRAYED / MF_DISABLED bits of the tray items

    bool operator==(const ControlStates& o) const {
        return captureList == o.captureList && playbackList == o.playbackList &&
               start == o.start && stop == o.stop && bufferEdit == o.bufferEdit &&
               pluginButton == o.pluginButton && trayStart == o.trayStart &&
               trayStop == o.trayStop;
    }
};

void PrintTo(const ControlStates& s, std::ostream* os) {
    *os << "{in " << s.captureList << ", out " << s.playbackList << ", start " << s.start
        << ", stop " << s.stop << ", buffer " << s.bufferEdit << ", plug-in " << s.pluginButton
        << ", tray start " << s.trayStart << ", tray stop " << s.trayStop << "}";
}

constexpr UINT TRAY_OFF = MF_GRAYED | MF_DISABLED;

// The controls as a stopped stream leaves them (auto-connect off) and as a running one.
constexpr ControlStates STOPPED_CONTROLS = {true, true, true, false, true, true, 0, MF_GRAYED};
constexpr ControlStates RUNNING_CONTROLS = {false, false, false, true, false, true, MF_GRAYED, 0};

std::vector<int> Envelope(const std::vector<int16_t>& stereo, size_t firstFrame, size_t windowFrames) {
    std::vector<int> peaks;
    for (size_t k = firstFrame; k + windowFrames <= stereo.size() / 2; k += windowFrames) {
        peaks.push_back(PeakAbs(stereo, k, windowFrames));
    }
    return peaks;
}

int Median(std::vector<int> values) {
    if (values.empty()) {
        return 0;
    }
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2),
                     values.end());
    return values[values.size() / 2];
}

// Median of the window peaks from window `from` (inclusive) to `to` (exclusive).
int MedianBetween(const std::vector<int>& envelope, size_t from, size_t to) {
    to = std::min(to, envelope.size());
    if (from >= to) {
        return 0;
    }
    return Median(std::vector<int>(envelope.begin() + static_cast<std::ptrdiff_t>(from),
                                   envelope.begin() + static_cast<std::ptrdiff_t>(to)));
}

std::vector<int16_t> LastFrames(const std::vector<int16_t>& stereo, size_t frames) {
    const size_t have = stereo.size() / 2;
    const size_t from = have > frames ? have - frames : 0;
    return std::vector<int16_t>(stereo.begin() + static_cast<std::ptrdiff_t>(2 * from), stereo.end());
}

class StreamTest : public MainDialogTest {
protected:
    void TearDown() override {
        MainDialogTest::TearDown();  // closes the dialog, which stops a running stream at once
        listener.Stop();
        tone.Stop();
    }

    void FeedTone(double amplitude) {
        tone.Stop();
        ASSERT_TRUE(tone.Start(FEED_DEVICE, TONE_HZ, amplitude)) << "no playback device TestMic";
        toneAmplitude = amplitude;
    }

    // Opens the recording early: Wine delivers a new recording's first data about a second
    // after it is opened.
    void StartListening() {
        ASSERT_TRUE(listener.Start(LISTEN_DEVICE)) << "no capture device Monitor of TestSpeaker";
        listenStart = GetTickCount();
    }

    void WaitUntilListening() {
        while (heard.empty() && GetTickCount() - listenStart < 4000) {
            Listen(50);
        }
        ASSERT_FALSE(heard.empty()) << "the recording never delivered data";
    }

    // Records (and keeps the dialog's messages and timers going) for ms; returns what arrived.
    std::vector<int16_t> Listen(DWORD ms) {
        std::vector<int16_t> chunk = listener.Take(ms);
        heard.insert(heard.end(), chunk.begin(), chunk.end());
        return chunk;
    }

    size_t HeardFrames() const { return heard.size() / 2; }

    void SelectDevice(int comboId, const wchar_t* name) {
        const int index = FindComboItem(Item(comboId), name);
        ASSERT_GE(index, 0) << "device not listed";
        SendMessageW(Item(comboId), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }

    void OpenOnTestDevices(const wchar_t* bufferText = L"50") {
        OpenDialog();
        SelectDevice(IDC_WAVEIN, CAPTURE_DEVICE);
        SelectDevice(IDC_WAVEOUT, PLAYBACK_DEVICE);
        SetDlgItemTextW(dialog, IDC_BUFFER_MS, bufferText);
    }

    // ID_START as the button sends it; the dialog procedure's own result is StartStream's.
    INT_PTR PressStart() {
        return MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(ID_START, BN_CLICKED),
                              reinterpret_cast<LPARAM>(Item(ID_START)));
    }

    // Presses Stop and lets the timers run until the teardown; false when it never came.
    bool PressStopAndWaitForTeardown(bool listen) {
        const DWORD start = GetTickCount();
        Command(ID_STOP);
        while (running != 0 && GetTickCount() - start < TEARDOWN_LIMIT_MS) {
            if (listen) {
                Listen(5);
            } else {
                Pump(5);
            }
        }
        return running == 0;
    }

    ControlStates Controls() const {
        return ControlStates{Enabled(IDC_WAVEIN),
                             Enabled(IDC_WAVEOUT),
                             Enabled(ID_START),
                             Enabled(ID_STOP),
                             Enabled(IDC_BUFFER_MS),
                             Enabled(IDC_VST_LOAD),
                             GetMenuState(trayPopup, ID_START, MF_BYCOMMAND) & TRAY_OFF,
                             GetMenuState(trayPopup, ID_STOP, MF_BYCOMMAND) & TRAY_OFF};
    }

    COLORREF ClipIndicatorColour() {
        HDC dc = GetDC(dialog);
        SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(Item(IDC_VOLUME_LABEL)));
        const COLORREF colour = GetTextColor(dc);
        ReleaseDC(dialog, dc);
        return colour;
    }

    // Moves a trackbar as the user drags it: position, then the scroll message.
    void MoveTrackbar(int id, int position) {
        SendMessageW(Item(id), TBM_SETPOS, TRUE, position);
        SendMessageW(dialog, WM_VSCROLL, TB_THUMBPOSITION, reinterpret_cast<LPARAM>(Item(id)));
    }

    // Dominant frequency heard after waiting for a change to settle: the median of three
    // consecutive 0.4 s windows, so that one dropout's splice cannot move it.
    double FrequencyAfterChange() {
        constexpr size_t WINDOW_FRAMES = 17640;
        Listen(SETTLE_MS);
        const std::vector<int16_t> last = LastFrames(Listen(1250), 3 * WINDOW_FRAMES);
        std::vector<double> found;
        for (size_t w = 0; w < last.size() / 2 / WINDOW_FRAMES; ++w) {
            const auto first = last.begin() + static_cast<std::ptrdiff_t>(2 * w * WINDOW_FRAMES);
            const std::vector<int16_t> piece(first, first + static_cast<std::ptrdiff_t>(2 * WINDOW_FRAMES));
            found.push_back(DominantFrequency(piece, 150.0, 1200.0));
        }
        if (found.size() < 3) {
            ADD_FAILURE() << "too little heard";
            return 0.0;
        }
        std::sort(found.begin(), found.end());
        return found[1];
    }

    // Peak of the last half second heard after waiting for a change to settle.
    int PeakAfterChange() {
        Listen(SETTLE_MS);
        const std::vector<int16_t> last = LastFrames(Listen(MEASURE_MS), HALF_SECOND_FRAMES);
        return PeakAbs(last, 0, last.size() / 2);
    }

    // Nothing of a run may be left once it has ended or was refused.
    void ExpectNoRunLeft() {
        EXPECT_EQ(running, 0);
        EXPECT_EQ(audioThread, nullptr);
        EXPECT_EQ(waveIn, nullptr);
        EXPECT_EQ(waveOut, nullptr);
        for (int i = 0; i < BUFFER_COUNT; ++i) {
            EXPECT_EQ(captureBuffers[i], nullptr) << i;
            EXPECT_EQ(playbackBuffers[i], nullptr) << i;
        }
        EXPECT_FALSE(KillTimer(dialog, TIMER_LEVEL)) << "the level timer was left running";
        EXPECT_FALSE(KillTimer(dialog, TIMER_STOP)) << "the stop timer was left running";
    }

    // Wine's own audio threads end a little after the devices close.
    int ThreadsSettledTo(int expected) {
        const DWORD start = GetTickCount();
        int now = CountThreads();
        while (now > expected && GetTickCount() - start < 1500) {
            Pump(20);
            now = CountThreads();
        }
        return now;
    }

    long HandlesSettledTo(long expected) {
        const DWORD start = GetTickCount();
        long now = CountHandles();
        while (now > expected && GetTickCount() - start < 1500) {
            Pump(20);
            now = CountHandles();
        }
        return now;
    }

    TonePlayer tone;
    double toneAmplitude = 0.0;
    Recorder listener;
    DWORD listenStart = 0;
    std::vector<int16_t> heard;
};

using StreamWithDevices = StreamTest;

TEST_F(StreamWithDevices, SoundArrivesRisingOverTheFirstSecond) {
    FeedTone(LOUD_TONE);
    StartListening();
    OpenOnTestDevices();
    WaitUntilListening();
    ASSERT_EQ(Controls(), STOPPED_CONTROLS);

    const size_t beforeStart = HeardFrames();
    ASSERT_EQ(PressStart(), 1);
    EXPECT_EQ(running, 1);
    EXPECT_EQ(Controls(), RUNNING_CONTROLS);
    Listen(FADE_IN_SETTLE_MS + 400);

    const size_t window = 10 * FRAMES_PER_MS;  // 10 ms, four and a half periods
    const std::vector<int> env = Envelope(heard, beforeStart, window);
    const int a = static_cast<int>(toneAmplitude);
    size_t onset = 0;
    while (onset < env.size() && env[onset] <= a / 50) {
        ++onset;
    }
    ASSERT_LT(onset + 120, env.size()) << "no sound arrived, or too late";
    EXPECT_GT(onset, 0u) << "sound already at the first window heard after Start";

    // A linear rise from 0 over one second: small at first, half way at 0.5 s, full after it.
    EXPECT_LT(env[onset], a / 8) << "the sound started loud: no fade-in";
    EXPECT_LT(MedianBetween(env, onset, onset + 15), a / 5);
    const int middle = MedianBetween(env, onset + 40, onset + 60);
    EXPECT_GT(middle, a * 35 / 100);
    EXPECT_LT(middle, a * 65 / 100);
    int previous = MedianBetween(env, onset, onset + 20);
    for (size_t segment = 1; segment < 5; ++segment) {  // 200 ms steps over the first second
        const int level = MedianBetween(env, onset + 20 * segment, onset + 20 * segment + 20);
        EXPECT_GT(level, previous + a / 10) << "segment " << segment << " does not rise";
        previous = level;
    }
    size_t full = onset;
    while (full < env.size() && env[full] < a * 95 / 100) {
        ++full;
    }
    const size_t riseMs = (full - onset) * 10;
    EXPECT_GE(riseMs, 850u) << "the fade-in is too short";
    EXPECT_LE(riseMs, 1100u) << "the fade-in is too long";
    EXPECT_GE(MedianBetween(env, onset + 110, env.size()), a * 97 / 100) << "not at full level";
    EXPECT_LE(*std::max_element(env.begin(), env.end()), a) << "louder than fed at unity gain";

    EXPECT_NEAR(FrequencyAfterChange(), TONE_HZ, FREQUENCY_TOLERANCE_HZ);
}

TEST_F(StreamWithDevices, StopFadesToSilenceAndTheTeardownRestoresTheControls) {
    FeedTone(LOUD_TONE);
    StartListening();
    OpenOnTestDevices();
    WaitUntilListening();
    ASSERT_EQ(PressStart(), 1);
    Listen(FADE_IN_SETTLE_MS);
    const int a = static_cast<int>(toneAmplitude);
    ASSERT_GE(PeakAbs(LastFrames(heard, 4410), 0, 4410), a * 97 / 100) << "not yet at full level";

    const size_t atStop = HeardFrames();
    Command(ID_STOP);
    EXPECT_FALSE(Enabled(ID_STOP)) << "Stop is disabled at once";
    EXPECT_FALSE(Enabled(ID_START)) << "Start waits for the teardown";
    EXPECT_EQ(running, 1) << "the teardown waits for the fade-out";
    const DWORD stopAt = GetTickCount();
    while (running != 0 && GetTickCount() - stopAt < TEARDOWN_LIMIT_MS) {
        Listen(5);
    }
    const DWORD teardownMs = GetTickCount() - stopAt;
    ASSERT_EQ(running, 0) << "no teardown within " << TEARDOWN_LIMIT_MS << " ms";
    EXPECT_GE(teardownMs, 180u) << "the teardown did not wait for its timer";
    EXPECT_EQ(Controls(), STOPPED_CONTROLS);
    ExpectNoRunLeft();
    Listen(800);

    // From a little before the stop request to the end, in 5 ms windows.
    const size_t window = 5 * FRAMES_PER_MS;
    const size_t from = atStop > 100 * FRAMES_PER_MS ? atStop - 100 * FRAMES_PER_MS : 0;
    const std::vector<int> env = Envelope(heard, from, window);
    size_t end = env.size();
    while (end > 0 && env[end - 1] <= a / 100) {
        --end;
    }
    ASSERT_GT(end, 0u);
    const size_t lastSound = end - 1;
    size_t fullBefore = lastSound;
    while (fullBefore > 0 && env[fullBefore] < a * 95 / 100) {
        --fullBefore;
    }
    ASSERT_GT(fullBefore, 0u) << "no full level before the stop";
    const size_t fadeMs = (lastSound - fullBefore) * 5;
    EXPECT_GE(fadeMs, 70u) << "the sound was cut, not faded";
    EXPECT_LE(fadeMs, 150u) << "the fade-out is longer than 0.1 s";
    // 35 to 70 ms into the fade-out the level is between about two thirds and one third; the
    // loudest window of those 35 ms still shows it when a dropout silences some of them.
    ASSERT_LE(fullBefore + 14, env.size());
    const int middle = *std::max_element(env.begin() + static_cast<std::ptrdiff_t>(fullBefore + 6),
                                         env.begin() + static_cast<std::ptrdiff_t>(fullBefore + 14));
    EXPECT_GT(middle, a * 25 / 100);
    EXPECT_LT(middle, a * 75 / 100);
    // The window after the last loud one may still hold the fade-out's last, smallest samples.
    const size_t silenceFrom = from + (end + 1) * window;
    const size_t silentFrames = heard.size() / 2 - silenceFrom;
    EXPECT_GE(silentFrames, 400 * FRAMES_PER_MS) << "the silence after the stop was not heard long enough";
    EXPECT_EQ(PeakAbs(heard, silenceFrom, silentFrames), 0) << "sound after the fade-out";
}

TEST_F(StreamWithDevices, PitchTopDoublesAndBottomHalvesTheFrequency) {
    FeedTone(LOUD_TONE);
    StartListening();
    OpenOnTestDevices();
    WaitUntilListening();
    ASSERT_EQ(PressStart(), 1);
    Listen(FADE_IN_SETTLE_MS - SETTLE_MS);
    EXPECT_NEAR(FrequencyAfterChange(), TONE_HZ, FREQUENCY_TOLERANCE_HZ) << "position 0 passes the pitch";

    MoveTrackbar(IDC_PITCH, -200);
    EXPECT_EQ(Text(IDC_PITCH_VALUE), L"+200");
    EXPECT_NEAR(FrequencyAfterChange(), 2 * TONE_HZ, FREQUENCY_TOLERANCE_HZ) << "the top is one octave up";

    MoveTrackbar(IDC_PITCH, 200);
    EXPECT_EQ(Text(IDC_PITCH_VALUE), L"-200");
    EXPECT_NEAR(FrequencyAfterChange(), TONE_HZ / 2, FREQUENCY_TOLERANCE_HZ) << "the bottom is one octave down";
}

TEST_F(StreamWithDevices, VolumeTopRaisesTheLevelTenfoldUntilItClipsAndTheIndicatorTurnsRed) {
    FeedTone(3000.0);  // tenfold still fits 16 bits
    StartListening();
    OpenOnTestDevices();
    WaitUntilListening();
    ASSERT_EQ(PressStart(), 1);
    Listen(FADE_IN_SETTLE_MS - SETTLE_MS);
    const int unity = PeakAfterChange();
    EXPECT_NEAR(unity, toneAmplitude, toneAmplitude * 0.02) << "position 0 passes the level";
    EXPECT_EQ(ClipIndicatorColour(), RGB(0, 0, 0));

    MoveTrackbar(IDC_VOLUME, -100);
    EXPECT_EQ(Text(IDC_VOLUME_VALUE), L"10.00");
    const int tenfold = PeakAfterChange();
    EXPECT_NEAR(static_cast<double>(tenfold) / unity, 10.0, 0.3);
    EXPECT_EQ(lastClipTick.load(), LAST_CLIP_TICK_NONE) << "30000 does not clip";
    EXPECT_EQ(ClipIndicatorColour(), RGB(0, 0, 0)) << "black while nothing clips";

    FeedTone(6000.0);  // tenfold is far beyond 16 bits
    const DWORD fed = GetTickCount();
    while (ClipIndicatorColour() != RGB(200, 0, 0) && GetTickCount() - fed < 2000) {
        Listen(20);
    }
    EXPECT_EQ(ClipIndicatorColour(), RGB(200, 0, 0)) << "the indicator did not turn red";
    const int clipped = PeakAfterChange();
    EXPECT_GE(clipped, 32767) << "the level did not reach the 16-bit limit";
    EXPECT_EQ(ClipIndicatorColour(), RGB(200, 0, 0)) << "red while it keeps clipping";

    ASSERT_TRUE(PressStopAndWaitForTeardown(true));
    EXPECT_EQ(ClipIndicatorColour(), RGB(0, 0, 0)) << "black once stopped";
}

TEST_F(StreamWithDevices, BufferLengthsOutsideTheRangeStartNothing) {
    OpenOnTestDevices();
    const ControlStates before = Controls();
    const int threads = CountThreads();
    for (const wchar_t* text : {L"9", L"10001", L"", L"0", L"-50", L"99999999999"}) {
        SetDlgItemTextW(dialog, IDC_BUFFER_MS, text);
        EXPECT_EQ(PressStart(), 0) << "buffer text \"" << text << "\"";
        EXPECT_EQ(Controls(), before);
        EXPECT_EQ(CountThreads(), threads);
        ExpectNoRunLeft();
    }
    // A text longer than the 255 units read: only its first 255 digits count.
    SetDlgItemTextW(dialog, IDC_BUFFER_MS, (std::wstring(255, L'0') + L"50").c_str());
    EXPECT_EQ(PressStart(), 0) << "255 zeros read as 0";
    EXPECT_EQ(Controls(), before);
    ExpectNoRunLeft();
}

TEST_F(StreamWithDevices, BufferLengthsAtBothEndsStartWithTheirSizes) {
    FeedTone(LOUD_TONE);
    StartListening();
    OpenOnTestDevices(L"10");
    WaitUntilListening();
    ASSERT_EQ(PressStart(), 1);
    EXPECT_EQ(bufferBytes, 1768u);
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        EXPECT_EQ(captureHeaders[i].dwBufferLength, 1768u) << i;
        EXPECT_EQ(captureHeaders[i].lpData, captureBuffers[i]) << i;
        EXPECT_EQ(playbackHeaders[i].dwBufferLength, 1768u) << i;
        EXPECT_EQ(playbackHeaders[i].lpData, playbackBuffers[i]) << i;
        EXPECT_EQ(playbackHeaders[i].dwLoops, 1u) << i;
        EXPECT_EQ(playbackHeaders[i].dwFlags & (WHDR_BEGINLOOP | WHDR_ENDLOOP),
                  static_cast<DWORD>(WHDR_BEGINLOOP | WHDR_ENDLOOP)) << i;
    }
    // 10 ms blocks flow: half way into the fade-in the tone is there.
    const std::vector<int16_t> heardNow = Listen(900);
    EXPECT_GT(PeakAbs(heardNow, 0, heardNow.size() / 2), static_cast<int>(toneAmplitude) / 5);
    ASSERT_TRUE(PressStopAndWaitForTeardown(false));
    ExpectNoRunLeft();

    SetDlgItemTextW(dialog, IDC_BUFFER_MS, L"10000");
    ASSERT_EQ(PressStart(), 1);
    EXPECT_EQ(bufferBytes, 1764004u);
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        EXPECT_EQ(captureHeaders[i].dwBufferLength, 1764004u) << i;
        EXPECT_EQ(playbackHeaders[i].dwBufferLength, 1764004u) << i;
        ASSERT_NE(captureBuffers[i], nullptr) << i;
        ASSERT_NE(playbackBuffers[i], nullptr) << i;
    }
    EXPECT_EQ(Controls(), RUNNING_CONTROLS);
    ASSERT_TRUE(PressStopAndWaitForTeardown(false)) << "a stop before the first block";
    EXPECT_EQ(Controls(), STOPPED_CONTROLS);
    ExpectNoRunLeft();
}

TEST_F(StreamWithDevices, AStartWithADeviceThatCannotOpenChangesNothing) {
    FeedTone(LOUD_TONE);
    StartListening();
    WaitUntilListening();  // Wine's recording makes its own threads and handles until then
    // The first run of a process creates what lives as long as the process (Wine's audio
    // threads, the thread-ready event): counted before, not as a leak of a refused start.
    OpenOnTestDevices();
    ASSERT_EQ(PressStart(), 1);
    ASSERT_TRUE(PressStopAndWaitForTeardown(false));
    CloseDialog();

    constexpr int REFUSALS = 20;
    // An awaited device is listed last, one past the real ones, and selected; auto-connect
    // waits for it, so nothing starts by itself.
    struct Case {
        const wchar_t* settings;
        int comboId;
        UINT realDevices;
    };
    const Case cases[] = {
        {L"[Settings00]\r\nWaveInCapsName=Absent Microphone\r\nWaveOutCapsName=TestSpeaker\r\n"
         L"AutoRestart=1\r\n",
         IDC_WAVEIN, waveInGetNumDevs()},
        {L"[Settings00]\r\nWaveInCapsName=Monitor of TestMic\r\nWaveOutCapsName=Absent Speaker\r\n"
         L"AutoRestart=1\r\n",
         IDC_WAVEOUT, waveOutGetNumDevs()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.comboId == IDC_WAVEIN ? "capture absent" : "playback absent");
        if (dialog != nullptr) {
            CloseDialog();
        }
        WriteSettings(c.settings);
        OpenDialog();
        ASSERT_EQ(SelectedIndex(c.comboId), static_cast<int>(c.realDevices));
        const ControlStates before = Controls();
        EXPECT_FALSE(before.captureList) << "auto-connect holds the lists";
        const int threads = CountThreads();
        const long handles = CountHandles();

        const int32_t stoppingBefore = stopping.load();
        const FadePair fadeBefore = fadePair.load();
        EXPECT_EQ(PressStart(), 0);
        EXPECT_EQ(Controls(), before);
        EXPECT_EQ(stopping.load(), stoppingBefore) << "the engine's words are as they were";
        EXPECT_EQ(fadePair.load().fadeTarget, fadeBefore.fadeTarget);
        EXPECT_EQ(fadePair.load().fadeCounter, fadeBefore.fadeCounter);
        EXPECT_EQ(SendMessageW(Item(IDC_AUTO_CONNECT), BM_GETCHECK, 0, 0), BST_CHECKED);
        ExpectNoRunLeft();
        EXPECT_EQ(ThreadsSettledTo(threads), threads) << "a thread was left";
        EXPECT_EQ(HandlesSettledTo(handles), handles) << "a handle was left";

        // One device left open by a refusal does not show in these counts under Wine; twenty
        // do, as handles and memory of its audio system.
        const ProcessResources beforeMany = MeasureProcess();
        for (int i = 0; i < REFUSALS; ++i) {
            ASSERT_EQ(PressStart(), 0);
        }
        HandlesSettledTo(beforeMany.handles);
        const ProcessResources afterMany = MeasureProcess();
        EXPECT_EQ(afterMany.threads, beforeMany.threads);
        EXPECT_EQ(afterMany.handles, beforeMany.handles);
        EXPECT_LE(afterMany.committedBytes, beforeMany.committedBytes + 128 * 1024);
        EXPECT_EQ(Controls(), before);
    }

    // The same window starts on real devices afterwards.
    Command(IDC_AUTO_CONNECT);  // off: the lists can be used again
    SelectDevice(IDC_WAVEOUT, PLAYBACK_DEVICE);
    ASSERT_EQ(PressStart(), 1);
    EXPECT_EQ(Controls(), RUNNING_CONTROLS);
    const std::vector<int16_t> heardNow = Listen(FADE_IN_SETTLE_MS);
    EXPECT_GT(PeakAbs(heardNow, 0, heardNow.size() / 2), static_cast<int>(toneAmplitude) / 2);
    ASSERT_TRUE(PressStopAndWaitForTeardown(false));
    ExpectNoRunLeft();
}

TEST_F(StreamWithDevices, AStartWhileRunningIsRefused) {
    FeedTone(LOUD_TONE);
    OpenOnTestDevices();
    // The first run in a process makes Wine start its own audio threads: count after one.
    ASSERT_EQ(PressStart(), 1);
    ASSERT_TRUE(PressStopAndWaitForTeardown(false));
    Pump(200);
    const int idleThreads = CountThreads();
    const long idleHandles = CountHandles();

    // A posted start (as the watcher or the tray sends it) overtaken by the user's own.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(ID_START, 0), 0);
    Command(ID_START);
    ASSERT_EQ(running, 1);
    const HWAVEIN in = waveIn;
    const HWAVEOUT out = waveOut;
    const HANDLE thread = audioThread;
    const DWORD threadId = audioThreadId;
    const char* firstBuffer = captureBuffers[0];
    const int runningThreads = CountThreads();
    Pump(200);  // the posted start arrives now
    EXPECT_EQ(PressStart(), 0) << "and one more, sent";

    EXPECT_EQ(running, 1);
    EXPECT_EQ(waveIn, in);
    EXPECT_EQ(waveOut, out);
    EXPECT_EQ(audioThread, thread);
    EXPECT_EQ(audioThreadId, threadId);
    EXPECT_EQ(captureBuffers[0], firstBuffer);
    EXPECT_EQ(CountThreads(), runningThreads) << "a second audio thread or device";
    EXPECT_EQ(Controls(), RUNNING_CONTROLS);

    ASSERT_TRUE(PressStopAndWaitForTeardown(false));
    EXPECT_EQ(Controls(), STOPPED_CONTROLS);
    ExpectNoRunLeft();
    EXPECT_EQ(ThreadsSettledTo(idleThreads), idleThreads);
    EXPECT_EQ(HandlesSettledTo(idleHandles), idleHandles);
}

TEST_F(StreamWithDevices, FiftyStartStopCyclesLeaveNoThreadHandleOrMemoryBehind) {
    constexpr int CYCLES = 50;
    // Sixteen 8824-byte buffers a run: a run that kept them would add 141 KB.
    constexpr size_t MEMORY_TOLERANCE = 256 * 1024;
    FeedTone(LOUD_TONE);
    OpenOnTestDevices();
    ASSERT_EQ(PressStart(), 1);  // Wine starts its own audio threads at the first run
    ASSERT_TRUE(PressStopAndWaitForTeardown(false));
    Pump(200);
    const ProcessResources before = MeasureProcess();
    ASSERT_GT(before.threads, 0);
    ASSERT_GT(before.handles, 0) << "the handle table cannot be read";
    ASSERT_GT(before.committedBytes, 0u);

    for (int cycle = 0; cycle < CYCLES; ++cycle) {
        ASSERT_EQ(PressStart(), 1) << "cycle " << cycle;
        Pump(20);
        ASSERT_TRUE(PressStopAndWaitForTeardown(false)) << "cycle " << cycle;
    }
    ExpectNoRunLeft();
    ThreadsSettledTo(before.threads);
    HandlesSettledTo(before.handles);
    const ProcessResources after = MeasureProcess();
    std::printf("after %d start/stop cycles: threads %d -> %d, handles %ld -> %ld, "
                "committed %zu -> %zu bytes, working set %zu -> %zu bytes\n",
                CYCLES, before.threads, after.threads, before.handles, after.handles,
                before.committedBytes, after.committedBytes, before.workingSetBytes,
                after.workingSetBytes);
    RecordProperty("threads", std::to_string(before.threads) + " -> " + std::to_string(after.threads));
    RecordProperty("handles", std::to_string(before.handles) + " -> " + std::to_string(after.handles));
    RecordProperty("committedBytes",
                   std::to_string(before.committedBytes) + " -> " + std::to_string(after.committedBytes));
    EXPECT_LE(after.threads, before.threads);
    EXPECT_LE(after.handles, before.handles);
    EXPECT_LE(after.committedBytes, before.committedBytes + MEMORY_TOLERANCE);
}

}  // namespace
