#!/usr/bin/python3
"""Measures recordings of the live program (end-to-end suites, ./run, measure_stream.sh).
  kawauso-analyze.py freq|centroid|level|shape|dropouts FILE [START_S]
      strongest or power-weighted mean frequency (Hz); rms and peak; the level's steady value,
      start, 10-90 % rise, end and 90-10 % fall; silent gaps and jumps in a steady tone
  kawauso-analyze.py latency FILE THRESHOLD MAX_MS    delay from each click to its copy
  kawauso-analyze.py steps|outage FILE REFERENCE_RMS   each 100 ms (median of 10 ms) as F full,
      H half, S silent or -; the stretches without F inside F, from the first half second of F
      on: how many, how many with HH, gaps
  kawauso-analyze.py pitch_at FILE HZ AFTER_S   the first 50 ms from AFTER_S at that pitch
  kawauso-analyze.py level_at FILE FRACTION DIRECTION AFTER_S   the first 10 ms from AFTER_S
      above (1) or below (-1) that fraction of the steady level
  kawauso-analyze.py staged FILE REFERENCE_RMS AFTER_S   the 10 ms windows at the stage's half
      level from AFTER_S past the effect's first half second to its last sound, and the
      longest run of milliseconds at half the tone's peak
FILE: .wav or raw, 44100 Hz 16-bit stereo, the channels mixed."""
import re
import sys
import wave

import numpy as np

RATE = 44100
SILENT_POWER = 1e-12
BLOCK = 44  # 1 ms, the unit of a silent gap
MIN_GAP_BLOCKS = 2
SILENT_FRACTION = 0.1  # of the tone's amplitude
JUMP_FRACTION = 0.1  # a sine obeys x[n] = 2cos(w) x[n-1] - x[n-2]; a splice breaks it by more
MERGE_MS = 30.0
LEVEL_WINDOW = 441  # 10 ms
CLICK_QUIET_MS = 20.0
STEP = 4410  # 100 ms


def load(path, start=0.0):
    if path.endswith(".wav"):
        with wave.open(path, "rb") as w:
            data = w.readframes(w.getnframes())
    else:
        with open(path, "rb") as f:
            data = f.read()
    frames = np.frombuffer(data[:len(data) // 4 * 4], "<i2").reshape(-1, 2)
    return frames.astype(np.float64).mean(axis=1)[int(start * RATE):] / 32768.0


def summed_power(s):
    """Power spectra of half-overlapping Hann-windowed blocks (up to 2^16), summed."""
    if len(s) < 1024:
        return None, 0
    n = min(1 << (len(s).bit_length() - 1), 65536)
    window = np.hanning(n)
    power = sum(np.abs(np.fft.rfft(s[i:i + n] * window)) ** 2
                for i in range(0, len(s) - n + 1, n // 2))
    return power, n


def strongest(s):
    power, n = summed_power(s)
    k = 1 + int(np.argmax(power[1:n // 2])) if power is not None else 0
    if power is None or power[k] < SILENT_POWER:
        return 0.0
    a, b, c = np.log(power[k - 1:k + 2] + SILENT_POWER)  # parabola through the log peak
    d = a - 2 * b + c
    return (k + (0.5 * (a - c) / d if d else 0.0)) * RATE / n


def centroid(s):
    power, n = summed_power(s)
    if power is None or power[1:].sum() < SILENT_POWER:
        return 0.0
    return float((np.arange(len(power)) * RATE / n * power)[1:].sum() / power[1:].sum())


def shape(s):
    w = len(s) // LEVEL_WINDOW
    levels = np.sqrt((s[:w * LEVEL_WINDOW].reshape(w, -1) ** 2).mean(axis=1))
    steady = np.sort(levels)[int(0.9 * (w - 1))] if w else 0.0
    if steady <= 0:
        return "steady=0 start=0 rise_ms=0 end=0 fall_ms=0"
    low, high = levels >= 0.1 * steady, levels >= 0.9 * steady
    k = int(np.argmax(low))
    up = k + int(np.argmax(high[k:]))
    last_high = int(np.nonzero(high)[0][-1])
    below = np.nonzero(~low[last_high:])[0]
    down = last_high + (int(below[0]) if len(below) else w - last_high)
    return (f"steady={steady:.4f} start={k / 100:.2f} rise_ms={(up - k) * 10} "
            f"end={down / 100:.2f} fall_ms={(down - last_high) * 10}")


def dropouts(s):
    b = len(s) // BLOCK
    peaks = np.abs(s[:b * BLOCK]).reshape(b, BLOCK).max(axis=1)
    amplitude = np.percentile(peaks, 90) if b else 0.0  # the tone's, however long the gaps
    breaks, gaps = [], []
    if amplitude > 0:
        c = 2 * np.cos(2 * np.pi * strongest(s) / RATE)
        residue = np.abs(s[2:] - c * s[1:-1] + s[:-2])
        breaks = list(np.nonzero(residue > JUMP_FRACTION * amplitude)[0] + 2)
        edges = np.diff(np.concatenate(([0], (peaks < SILENT_FRACTION * amplitude) * 1, [0])))
        starts, ends = np.nonzero(edges == 1)[0], np.nonzero(edges == -1)[0]
        for first, end in zip(starts, ends):  # a gap is silence that sound follows
            if end - first >= MIN_GAP_BLOCKS and end < b:
                gaps.append(end - first)
                breaks.append(first * BLOCK)
    breaks = np.sort(np.array(breaks, dtype=np.int64))
    events = breaks[np.concatenate(([True], np.diff(breaks) > MERGE_MS * RATE / 1000))] \
        if len(breaks) else breaks
    summary = (f"events={len(events)} gaps={len(gaps)} longest_gap_ms={max(gaps, default=0)} "
               f"seconds={len(s) / RATE:.1f}")
    return "\n".join([summary] + [f"at {e / RATE:.3f}" for e in events])


def steps(s, reference):
    w = len(s) // STEP
    tens = np.sqrt((s[:w * STEP].reshape(w, 10, -1) ** 2).mean(axis=2))
    ratios = np.median(tens, axis=1) / reference
    return "".join("F" if 0.8 <= r <= 1.25 else "H" if 0.35 <= r <= 0.65 else "S" if r < 0.1
                   else "-" for r in ratios)


STEADY_STEPS = 5


def outage(s, reference):
    w = steps(s, reference)
    # From the first half second of the effect: the programs' own start (processes starting
    # side by side) is the other suites' to judge, the outages are the effect's.
    first, last = w.find("F" * STEADY_STEPS), w.rfind("F")
    stretches = list(re.finditer(r"[^F]+", w[first:last])) if first >= 0 else []
    gaps = [int(re.search(r"longest_gap_ms=(\d+)", dropouts(
        s[(first + m.start() - 1) * STEP:(first + m.end() + 1) * STEP])).group(1)) for m in stretches]
    # A lone silent step amid the effect's sound is the stream's dropout (a stall of the
    # machine; the audio suites judge those beside a plain passthrough), not an outage of the
    # effect, which plays the stage or lasts longer than a step.
    own = [g for g, m in zip(gaps, stretches) if "H" in m.group() or len(m.group()) > 1]
    return (f"outages={len(stretches)} staged={sum('HH' in m.group() for m in stretches)} "
            f"longest_gap_ms={max(own, default=0)} dropout_ms={max(gaps, default=0)}")


def staged(s, reference, after_s):
    w = steps(s, reference)
    first, last = w.find("F" * STEADY_STEPS), w.rfind("F")
    if first < 0:
        return "staged_ms=0 of_ms=0"
    part = s[first * STEP + int(after_s * RATE):(last + 1) * STEP]
    n = len(part) // LEVEL_WINDOW
    ratios = np.sqrt((part[:n * LEVEL_WINDOW].reshape(n, -1) ** 2).mean(axis=1)) / reference
    half = int(np.count_nonzero((ratios >= 0.35) & (ratios <= 0.65)))
    # A dropout's edges make a 10 ms window's level half the tone's too; the stage's sound keeps
    # half the tone's peak in every millisecond of it, a dropout none.
    m = len(part) // BLOCK
    peaks = np.abs(part[:m * BLOCK]).reshape(m, BLOCK).max(axis=1) if m else np.zeros(0)
    halves = (peaks >= 0.35 * np.percentile(peaks, 90)) & (peaks <= 0.65 * np.percentile(peaks, 90)) \
        if m else peaks > 0
    runs = "".join("H" if h else "." for h in halves).split(".")
    return (f"staged_ms={half * 10} of_ms={n * 10} "
            f"longest_staged_ms={max(len(r) for r in runs)}")


WINDOW_S = 0.05  # the windows in which a change is looked for


def pitch_at(s, hz, after_s):
    """The first 50 ms window from after_s on whose strongest line is within 3 % of hz."""
    n = int(WINDOW_S * RATE)
    for start in range(int(after_s * RATE), len(s) - n, n):
        window = s[start:start + n]
        if np.sqrt(np.mean(window ** 2)) > 0.01 and abs(strongest(window) / hz - 1) <= 0.03:
            return f"at_s={start / RATE:.3f}"
    return "at_s=none"


def level_at(s, fraction, direction, after_s):
    """The first 10 ms window from after_s whose level is above (direction 1) or below (-1)
    fraction of the steady level the 90th percentile of windows has."""
    n = len(s) // LEVEL_WINDOW
    levels = np.sqrt((s[:n * LEVEL_WINDOW].reshape(n, -1) ** 2).mean(axis=1))
    steady = np.percentile(levels, 90)
    for i in range(int(after_s * RATE) // LEVEL_WINDOW, n):
        if (levels[i] - fraction * steady) * direction > 0:
            return f"at_s={i * LEVEL_WINDOW / RATE:.3f}"
    return "at_s=none"


def latency(s, threshold, max_ms):
    loud = np.nonzero(np.abs(s) >= threshold)[0]
    onsets = loud[np.concatenate(([True], np.diff(loud) > CLICK_QUIET_MS * RATE / 1000))] \
        if len(loud) else loud
    delays, i = [], 0
    while i + 1 < len(onsets):
        ms = (onsets[i + 1] - onsets[i]) * 1000 / RATE
        if ms <= max_ms:  # the copy is not a new click
            delays.append(ms)
            i += 1
        i += 1
    if not delays:
        return "pairs=0"
    d = sorted(delays)
    return (f"pairs={len(d)} median_ms={d[len(d) // 2]:.1f} min_ms={d[0]:.1f} "
            f"max_ms={d[-1]:.1f} all=" + ",".join(f"{x:.1f}" for x in delays))


COMMANDS = {"freq": lambda s: f"{strongest(s):.1f}", "centroid": lambda s: f"{centroid(s):.1f}",
            "level": lambda s: f"rms={np.sqrt(np.mean(s ** 2)):.4f} peak={np.abs(s).max():.4f}",
            "shape": shape, "dropouts": dropouts}  # the numbers: START_S
WITH_NUMBERS = {"latency": latency, "steps": steps, "outage": outage, "staged": staged,
                "pitch_at": pitch_at, "level_at": level_at}  # the whole file

if __name__ == "__main__":
    mode, path, numbers = sys.argv[1], sys.argv[2], [float(x) for x in sys.argv[3:]]
    print(WITH_NUMBERS[mode](load(path), *numbers) if mode in WITH_NUMBERS
          else COMMANDS[mode](load(path, *numbers)))
