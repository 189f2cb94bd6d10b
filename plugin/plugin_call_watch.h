// Watches the audio thread's calls into the effect, so that nobody waits on a plug-in that
// does not return. The audio thread marks each call (its processReplacing, and the block-size
// message it may send first) with its start tick; the window thread gives up on a call that
// has run too long, and the audio thread, if it ever comes back, finds its call given up and
// touches nothing the stream shares any more.
#pragma once

#include <cstdint>

// The code a host's fault holds for an effect cut loose because a call did not return. Exception
// codes of errors start at 0xC0000000 and signal numbers are small, so neither can be this.
constexpr uint32_t EFFECT_HUNG = 0xFFFFFFFFu;

// How long the window thread lets a call run (and any user action wait on one) before giving
// up on it. A variable so that tests can shorten it.
extern uint32_t pluginHangFloorMs;

// The longest a call may run before it counts as hung, on a stream of bufferMs buffers: two
// buffer lengths, but never less than pluginHangFloorMs.
uint32_t PluginHangLimitMs(uint32_t bufferMs);

struct PluginCallTicket {
    uint32_t startTick;
    uint32_t sequence; // never 0: 0 marks "no call"; the top bit marks a call that has returned
};

// Audio thread, with EngineLock held and pluginActive on: marks a call (a block through one
// effect) as started. Holding the lock is what lets a thread that turned pluginActive off under
// it know whether a call runs.
PluginCallTicket BeginPluginCall();

struct PluginHost;
// Audio thread, inside the marked call, before it enters the effect of an in-process host: the
// host a give-up cuts loose.
void NamePluginCallHost(PluginHost* host);

// Audio thread, inside the marked call, once the effect has returned and before anything the
// host shares is touched (a fault recorded, the stream position moved): from then on the call
// can no longer be given up, yet still counts as running. False when it was given up meanwhile:
// the host may already hold another effect, so nothing of this call may reach it. True on a
// thread with no marked call, where nobody gives anything up.
bool SettlePluginCall();

// Audio thread, inside the marked call: true once the call has been given up.
bool PluginCallGivenUp();

// Audio thread, after the call: marks it done. False when the call was given up meanwhile: the
// stream has moved on without this thread, which must then play nothing and end.
bool EndPluginCall(PluginCallTicket ticket);

// True while a call is marked started and not done (and not given up).
bool PluginCallRunning();

// When a call has run for limitMs or longer and not yet returned, gives it up and returns true: the
// effect of the host it named is cut loose with EFFECT_HUNG, and its float buffers are handed to
// the stuck call for good (the host forgets them without freeing them, as the call may still
// write into them).
bool GiveUpPluginCallAfter(uint32_t limitMs);
