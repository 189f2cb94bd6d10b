#include "audio/block_processing.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "audio/audio_format.h"
#include "audio/engine_state.h"
#include "audio/fade_ramp.h"
#include "audio/mute_ramp.h"
#include "audio/stream_meters.h"
#include "audio/pitch_stage.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/sample_conversion.h"

namespace {

// How a link's answer is heard in the block it is next called for: as it is, from what it was
// given into its own sound, or back from its own sound to what it was given.
enum class LinkFade : uint8_t { None, In, Out };
struct Link {
    ChainLink link;
    LinkFade fade;
};

// All EngineLock on both sides. A crossfaded change that fades an effect out waits in pending
// for the end of the block that played the fade.
Link chain[MAX_CHAIN_EFFECTS] = {};
uint32_t chainLength = 0;
Link pending[MAX_CHAIN_EFFECTS] = {};
uint32_t pendingLength = 0;
bool changePending = false;

std::atomic<uint64_t> effectFrames{0};
// From the stage's sound into the effect's over 10 ms, so that an effect in its own process
// coming back (after a late block, or started again) does not click in; the same length for an
// effect going into or out of a playing chain.
constexpr uint32_t CROSSFADE_FRAMES = 441;
bool lastThroughStage = false; // audio thread only
std::atomic<bool> effectsBypassed{false};
// The block on its way through the chain and the next effect's output, by turns; audio thread
// only, sized for the longest block so that nothing is allocated on the way.
float chainIn[2 * MAX_BLOCK_FRAMES];
float chainOut[2 * MAX_BLOCK_FRAMES];

void ThroughStage(const int16_t* input, int16_t* output, uint32_t samples) {
    LockEnter(&EngineLock);
    ProcessStageBlock(input, output, samples);
    LockLeave(&EngineLock);
}

// The first count frames of output moved from `from`'s sound into its own, frame by frame.
void BlendFrom(const int16_t* from, int16_t* output, uint32_t count) {
    for (uint32_t i = 0; i < count * 2; ++i) {
        const double weight = static_cast<double>(i / 2 + 1) / (count + 1);
        output[i] = static_cast<int16_t>(from[i] + (output[i] - from[i]) * weight);
    }
}

void CrossfadeFromStage(const int16_t* input, int16_t* output, uint32_t frames) {
    const uint32_t count = frames < CROSSFADE_FRAMES ? frames : CROSSFADE_FRAMES;
    int16_t stage[CROSSFADE_FRAMES * 2];
    ThroughStage(input, stage, count * 2);
    BlendFrom(stage, output, count);
}

bool Plays(const ChainLink& link) {
    return link.handle != nullptr && !link.bypassed;
}

// The block the chain answered, carried over into the stage's sound over 10 ms: the last block
// of the chain's before every effect is bypassed.
void CrossfadeToStage(const int16_t* input, int16_t* output, uint32_t frames) {
    const uint32_t count = frames < CROSSFADE_FRAMES ? frames : CROSSFADE_FRAMES;
    int16_t chained[CROSSFADE_FRAMES * 2];
    for (uint32_t i = 0; i < count * 2; ++i) {
        chained[i] = output[i];
    }
    ThroughStage(input, output, frames * 2);
    BlendFrom(chained, output, count);
}

// The next unbypassed effect from link index on while pluginActive is on, with index moved past
// it and how its answer is to be heard; null for none. A fade-in is heard once. EngineLock held.
EffectHandle* NextEffect(uint32_t& index, LinkFade& fade) {
    if (pluginActive.load(std::memory_order_relaxed) == 0) {
        return nullptr;
    }
    for (; index < chainLength; ++index) {
        Link& link = chain[index];
        if (Plays(link.link)) {
            fade = link.fade;
            link.fade = link.fade == LinkFade::In ? LinkFade::None : link.fade;
            ++index;
            return link.link.handle;
        }
    }
    return nullptr;
}

// The pending change in place of the chain. EngineLock held.
void InstallPending() {
    chainLength = pendingLength;
    for (uint32_t i = 0; i < pendingLength; ++i) {
        chain[i] = pending[i];
    }
    changePending = false;
}

// Marks the longest run of effects that a and b play in the same order (a fixed small count, so
// the whole table fits on the stack): those go on untouched through a change.
void MarkKept(EffectHandle* const* a, uint32_t aCount, EffectHandle* const* b, uint32_t bCount,
              bool* keptA, bool* keptB) {
    uint8_t longest[MAX_CHAIN_EFFECTS + 1][MAX_CHAIN_EFFECTS + 1] = {};
    for (uint32_t i = aCount; i-- > 0;) {
        for (uint32_t j = bCount; j-- > 0;) {
            longest[i][j] = a[i] == b[j] ? static_cast<uint8_t>(longest[i + 1][j + 1] + 1)
                                         : std::max(longest[i + 1][j], longest[i][j + 1]);
        }
    }
    for (uint32_t i = 0, j = 0; i < aCount && j < bCount;) {
        if (a[i] == b[j]) {
            keptA[i++] = true;
            keptB[j++] = true;
        } else if (longest[i + 1][j] >= longest[i][j + 1]) {
            ++i;
        } else {
            ++j;
        }
    }
}

// Where in links the effects that play are, in order; none while pluginActive is off.
uint32_t PlayingAt(const ChainLink* links, uint32_t count, uint32_t* at, EffectHandle** handles) {
    uint32_t playing = 0;
    for (uint32_t i = 0; pluginActive.load(std::memory_order_relaxed) != 0 && i < count; ++i) {
        if (Plays(links[i])) {
            at[playing] = i;
            handles[playing++] = links[i].handle;
        }
    }
    return playing;
}

// An effect's answer moved from what it was given to its own sound (In, over the block's first
// CROSSFADE_FRAMES) or back (Out, over its last): an effect moved along the chain, out at one
// block's end and in at the next one's start, is missed for no longer than the two ramps.
void FadeLink(LinkFade fade, const float* given, float* answer, uint32_t frames) {
    if (fade == LinkFade::None) {
        return;
    }
    const uint32_t count = frames < CROSSFADE_FRAMES ? frames : CROSSFADE_FRAMES;
    const uint32_t from = fade == LinkFade::In ? 0 : frames - count;
    for (uint32_t f = 0; f < frames; ++f) {
        const float toward = f < from ? 0.0f
                             : f >= from + count
                                 ? 1.0f
                                 : static_cast<float>(f - from + 1) / static_cast<float>(count + 1);
        const float weight = fade == LinkFade::In ? toward : 1.0f - toward;
        for (uint32_t i = 2 * f; i < 2 * f + 2; ++i) {
            answer[i] = given[i] + (answer[i] - given[i]) * weight;
        }
    }
}

// The next effect, its call marked under EngineLock: read anew for each effect, so that one
// taken out of the chain meanwhile, or all of them with pluginActive off, is never called.
EffectHandle* BeginNextEffect(uint32_t& index, LinkFade& fade, PluginCallTicket& call) {
    LockEnter(&EngineLock);
    EffectHandle* const handle = NextEffect(index, fade);
    if (handle != nullptr) {
        call = BeginPluginCall();
    }
    LockLeave(&EngineLock);
    return handle;
}

// Outside EngineLock: a hung effect must not hold the sliders, a stop or an unload with it.
// Each effect's call is marked under the lock, which is what tells whoever turned pluginActive
// off whether a block is still inside; each answer is the next effect's input. No handle is
// touched once its call is marked done: from then on its owner may free it. False when a call
// was given up meanwhile.
bool ThroughEffects(EffectHandle* handle, uint32_t index, LinkFade fade, PluginCallTicket call,
                    const int16_t* input, int16_t* output, uint32_t samples) {
    const uint32_t frames = samples / 2;
    const bool stageCoversMisses = handle->missedBlocksPlayStage;
    const EffectHostValues values = {static_cast<double>(SAMPLE_RATE), static_cast<int32_t>(frames),
                                     static_cast<int32_t>(PROCESS_LEVEL_REALTIME)};
    for (uint32_t i = 0; i < samples; ++i) {
        chainIn[i] = SampleToFloat(input[i]);
    }
    float* in = chainIn;
    float* out = chainOut;
    bool processed = false;
    for (; handle != nullptr; handle = BeginNextEffect(index, fade, call)) {
        handle->setHostValues(handle, values);
        const auto called = std::chrono::steady_clock::now();
        const bool gaveAnswer = handle->process(handle, in, out, frames);
        MeterEffect(index - 1,
                    static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                              std::chrono::steady_clock::now() - called)
                                              .count()),
                    frames);
        if (gaveAnswer) {
            FadeLink(fade, in, out, frames);
            float* const answered = out;
            out = in;
            in = answered;
            processed = true;
        }
        if (!EndPluginCall(call)) {
            return false;
        }
    }
    if (processed) {
        for (uint32_t i = 0; i < samples; ++i) {
            output[i] = FloatToSample(in[i]);
        }
        if (lastThroughStage) {
            CrossfadeFromStage(input, output, frames);
        }
        lastThroughStage = false;
        effectFrames.fetch_add(frames, std::memory_order_relaxed);
    } else if (stageCoversMisses) {
        ThroughStage(input, output, samples);
        lastThroughStage = true;
    } else {
        // Silence: the buffer still holds a block of eight earlier, and playing that would
        // loop old sound for as long as the effect declines.
        std::memset(output, 0, samples * sizeof(int16_t));
    }
    return true;
}

} // namespace

bool ProcessBlock(const int16_t* input, uint32_t byteCount, int16_t* output) {
    const uint32_t samples = byteCount / 2;
    clipFlag = 0;
    LockEnter(&EngineLock);
    // A change waiting from before this block has its fades played in it; one made during it
    // waits for the next.
    const bool settleAfter = changePending;
    uint32_t index = 0;
    LinkFade fade = LinkFade::None;
    // Bypassed, the chain still answers the one block that crosses over to the stage.
    const bool bypassed = effectsBypassed.load(std::memory_order_relaxed);
    EffectHandle* const first = samples <= 2 * MAX_BLOCK_FRAMES && !(bypassed && lastThroughStage)
                                    ? NextEffect(index, fade)
                                    : nullptr;
    if (first != nullptr) {
        const PluginCallTicket call = BeginPluginCall();
        LockLeave(&EngineLock);
        if (!ThroughEffects(first, index, fade, call, input, output, samples)) {
            return false;
        }
        if (bypassed && !lastThroughStage) {
            CrossfadeToStage(input, output, samples / 2);
            lastThroughStage = true;
        }
    } else {
        ProcessStageBlock(input, output, samples);
        LockLeave(&EngineLock);
        lastThroughStage = true;
    }
    if (settleAfter) {
        SettleBlockEffects();
    }
    ApplyFadeRamp(output, samples);
    ApplyMuteRamp(output, samples);
    MeterBlock(input, output, samples);
    if (clipFlag != 0) {
        lastClipTick.store(TickCount());
    }
    return true;
}

void SetBlockEffects(const ChainLink* links, uint32_t count) {
    LockEnter(&EngineLock);
    pendingLength = count < MAX_CHAIN_EFFECTS ? count : MAX_CHAIN_EFFECTS;
    for (uint32_t i = 0; i < pendingLength; ++i) {
        pending[i] = {links[i], LinkFade::None};
    }
    InstallPending();
    LockLeave(&EngineLock);
}

void CrossfadeBlockEffects(const ChainLink* links, uint32_t count) {
    count = count < MAX_CHAIN_EFFECTS ? count : MAX_CHAIN_EFFECTS;
    LockEnter(&EngineLock);
    if (changePending) {
        InstallPending(); // the one before in at once: fades are marked on the chain as it is
    }
    ChainLink before[MAX_CHAIN_EFFECTS];
    for (uint32_t i = 0; i < chainLength; ++i) {
        before[i] = chain[i].link;
    }
    uint32_t beforeAt[MAX_CHAIN_EFFECTS], afterAt[MAX_CHAIN_EFFECTS];
    EffectHandle* beforePlays[MAX_CHAIN_EFFECTS];
    EffectHandle* afterPlays[MAX_CHAIN_EFFECTS];
    const uint32_t beforeCount = PlayingAt(before, chainLength, beforeAt, beforePlays);
    const uint32_t afterCount = PlayingAt(links, count, afterAt, afterPlays);
    pendingLength = count;
    for (uint32_t i = 0; i < count; ++i) {
        pending[i] = {links[i], LinkFade::None};
    }
    // From or to the stage alone there is nothing to fade within the chain: the stage's own
    // crossfade covers the way in, and the way out is as an unload's.
    if (beforeCount > 0 && afterCount > 0) {
        bool keptBefore[MAX_CHAIN_EFFECTS] = {}, keptAfter[MAX_CHAIN_EFFECTS] = {};
        MarkKept(beforePlays, beforeCount, afterPlays, afterCount, keptBefore, keptAfter);
        for (uint32_t k = 0, j = 0; k < afterCount; ++k) {
            if (!keptAfter[k]) {
                pending[afterAt[k]].fade = LinkFade::In;
                continue;
            }
            while (!keptBefore[j]) {
                ++j;
            }
            pending[afterAt[k]].fade = chain[beforeAt[j++]].fade; // a fade-in not yet heard
        }
        for (uint32_t k = 0; k < beforeCount; ++k) {
            if (!keptBefore[k]) {
                chain[beforeAt[k]].fade = LinkFade::Out;
                changePending = true;
            }
        }
    }
    if (!changePending) {
        InstallPending();
    }
    LockLeave(&EngineLock);
}

bool BlockEffectsChangePending() {
    LockEnter(&EngineLock);
    const bool waiting = changePending;
    LockLeave(&EngineLock);
    return waiting;
}

void SettleBlockEffects() {
    LockEnter(&EngineLock);
    if (changePending) {
        InstallPending();
    }
    LockLeave(&EngineLock);
}

uint32_t BlockEffectCount() {
    LockEnter(&EngineLock);
    const uint32_t count = chainLength;
    LockLeave(&EngineLock);
    return count;
}

void SetBlockEffect(EffectHandle* handle) {
    const ChainLink link = {handle, false};
    SetBlockEffects(&link, handle != nullptr ? 1 : 0);
}

void SizeBlockEffect(uint32_t frames) {
    EffectHandle* handles[MAX_CHAIN_EFFECTS];
    LockEnter(&EngineLock);
    const uint32_t count = chainLength;
    for (uint32_t i = 0; i < count; ++i) {
        handles[i] = chain[i].link.handle;
    }
    LockLeave(&EngineLock);
    for (uint32_t i = 0; i < count; ++i) {
        if (handles[i] != nullptr) {
            handles[i]->setBlockSize(handles[i], frames);
        }
    }
}

void SetEffectsBypassed(bool bypassed) {
    effectsBypassed.store(bypassed);
}

bool EffectsBypassed() {
    return effectsBypassed.load();
}

uint64_t EffectFramesProcessed() {
    return effectFrames.load(std::memory_order_relaxed);
}
