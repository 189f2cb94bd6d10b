// Dropouts in the recording of a steady tone: silent gaps, and discontinuities where the
// waveform jumps (a lost or repeated piece of a buffer spliced in without silence).
#pragma once

#include <vector>

struct DropoutReport {
    int events = 0;     // dropouts: gaps and jumps, those within MERGE_MS counted once
    int silentGaps = 0; // runs of at least 2 ms without the tone
    double longestGapMs = 0.0;
    std::vector<double> eventSeconds; // where each dropout begins, from the signal's start
};

// Finds the dropouts of signal, which must hold one steady sine (its frequency is measured).
DropoutReport FindDropouts(const std::vector<double>& signal);
