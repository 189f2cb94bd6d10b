// Recordings for analysis: a WAV file (44100 Hz, 16-bit, stereo) or a raw recording of the
// same format, as the sound server's recorder writes it, read as one mono signal.
#pragma once

#include <string>
#include <vector>

constexpr double ANALYSIS_RATE = 44100.0;

// Reads path (".wav" through the strict WAV reader, anything else as raw s16le stereo) and
// returns the mean of the two channels, scaled so that full scale is 1.0. False with a
// one-line reason.
bool ReadSignal(const std::string& path, std::vector<double>& mono, std::string& error);

// The part of signal from startSeconds lasting durationSeconds (negative: to the end),
// clamped to the signal.
std::vector<double> Excerpt(const std::vector<double>& signal, double startSeconds,
                            double durationSeconds);
