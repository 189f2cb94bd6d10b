// The level of a recording over time: where the sound begins and ends, how long it takes
// to rise and to fall, and where clicks begin.
#pragma once

#include <vector>

struct LevelShape {
    double steady = 0.0;      // the level of the body of the sound (RMS, full scale 1.0)
    double startSeconds = -1; // first 10 ms window at 10 % of steady
    double riseMs = 0.0;      // from 10 % to 90 % of steady at the start
    double endSeconds = -1;   // first window below 10 % after the last one at 90 %
    double fallMs = 0.0;      // from the last window at 90 % down to 10 %
};

// The shape of the level in 10 ms windows; steady is the 90th percentile of the windows.
LevelShape MeasureShape(const std::vector<double>& signal);

// Times in seconds where |x| reaches threshold after at least quietMs below it.
std::vector<double> Onsets(const std::vector<double>& signal, double threshold, double quietMs);
