// Reading and writing the one WAV form the engine takes: PCM, 44100 Hz, 16 bits, 2 channels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads a WAV file strictly: the RIFF/WAVE structure with every chunk size checked against
// the file, odd-sized chunks padded, unknown chunks skipped, exactly one fmt chunk (PCM, or
// extensible with the PCM sub-format) and after it one data chunk. A RIFF or data size past
// the end, as writers into a pipe leave them, stands for the whole frames present. On
// failure returns false with a one-line reason in error.
bool ReadWavFile(const char* path, std::vector<int16_t>& samples, std::string& error);

// Parses a whole WAV image in memory, as ReadWavFile does.
bool ParseWav(const std::vector<uint8_t>& bytes, std::vector<int16_t>& samples, std::string& error);

// Writes samples as a 44100 Hz 16-bit stereo WAV to path. A file (or the file a link leads to)
// is written through a temporary file beside it, so it is replaced only when the whole file
// was written; a pipe or a device is written directly; a directory is refused. False with a
// reason.
bool WriteWavFile(const char* path, const std::vector<int16_t>& samples, std::string& error);
