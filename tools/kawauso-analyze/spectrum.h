// The strongest frequency of a signal and its level.
#pragma once

#include <vector>

// The frequency in Hz of the strongest spectral line of signal: the power spectra of
// Hann-windowed, half-overlapping blocks (the longest power of two up to 2^16 that fits)
// summed, the peak refined between bins by a parabola through the log powers. 0 for a
// signal too short or silent.
double DominantFrequency(const std::vector<double>& signal);

// The power-weighted mean frequency in Hz of the same summed spectrum: where the sound's
// energy lies on average (a pitch shift moves it by the shift's ratio). 0 when silent.
double SpectralCentroid(const std::vector<double>& signal);

// Root mean square and peak magnitude (full scale 1.0).
double Rms(const std::vector<double>& signal);
double Peak(const std::vector<double>& signal);
