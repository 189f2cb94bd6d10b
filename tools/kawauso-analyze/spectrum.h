// The strongest frequency of a signal and its level.
#pragma once

#include <vector>

// The frequency in Hz of the strongest spectral line of signal (a Hann-windowed transform
// of its first power-of-two samples, at most 2^16, refined between bins by a parabola
// through the log magnitudes). 0 for a signal too short or silent.
double DominantFrequency(const std::vector<double>& signal);

// Root mean square and peak magnitude (full scale 1.0).
double Rms(const std::vector<double>& signal);
double Peak(const std::vector<double>& signal);
