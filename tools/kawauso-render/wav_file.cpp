#include "tools/kawauso-render/wav_file.h"

#include <cstdio>

#include "audio/audio_format.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t WAV_HEADER_BYTES = 44;
constexpr uint16_t FORMAT_PCM = 1;

uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

bool Fail(std::string& error, const char* reason) {
    error = reason;
    return false;
}

bool CheckFormat(const uint8_t* fmt, uint32_t size, std::string& error) {
    if (size < 16) {
        return Fail(error, "the fmt chunk is too short");
    }
    if (Read16(fmt) != FORMAT_PCM) {
        return Fail(error, "not PCM audio");
    }
    if (Read16(fmt + 2) != CHANNEL_COUNT || Read32(fmt + 4) != SAMPLE_RATE ||
        Read16(fmt + 14) != BITS_PER_SAMPLE) {
        return Fail(error, "not 44100 Hz, 16-bit, 2-channel audio");
    }
    if (Read16(fmt + 12) != BLOCK_ALIGN || Read32(fmt + 8) != AVG_BYTES_PER_SEC) {
        return Fail(error, "inconsistent block alignment or byte rate");
    }
    return true;
}

}  // namespace

bool ParseWav(const std::vector<uint8_t>& bytes, std::vector<int16_t>& samples,
              std::string& error) {
    const size_t fileSize = bytes.size();
    if (fileSize < 12 || Read32(&bytes[0]) != 0x46464952u /* RIFF */ ||
        Read32(&bytes[8]) != 0x45564157u /* WAVE */) {
        return Fail(error, "not a RIFF/WAVE file");
    }
    const uint64_t riffEnd = 8 + static_cast<uint64_t>(Read32(&bytes[4]));
    if (riffEnd > fileSize) {
        return Fail(error, "truncated file: the RIFF size runs past the end");
    }
    if (riffEnd < 12) {
        return Fail(error, "the RIFF size is too small");
    }

    // Every position below is checked against riffEnd <= fileSize before it is used, so it
    // fits size_t.
    const uint8_t* data = bytes.data();
    bool haveFormat = false;
    bool haveData = false;
    uint64_t pos = 12;
    while (pos < riffEnd) {
        if (riffEnd - pos < 8) {
            return Fail(error, "truncated chunk header");
        }
        const uint32_t id = Read32(data + static_cast<size_t>(pos));
        const uint32_t size = Read32(data + static_cast<size_t>(pos) + 4);
        const uint64_t body = pos + 8;
        if (size > riffEnd - body) {
            return Fail(error, "truncated file: a chunk runs past the end");
        }
        if (id == 0x20746D66u /* "fmt " */) {
            if (haveFormat) {
                return Fail(error, "more than one fmt chunk");
            }
            if (!CheckFormat(data + static_cast<size_t>(body), size, error)) {
                return false;
            }
            haveFormat = true;
        } else if (id == 0x61746164u /* "data" */) {
            if (!haveFormat) {
                return Fail(error, "the data chunk comes before the fmt chunk");
            }
            if (haveData) {
                return Fail(error, "more than one data chunk");
            }
            if (size % BLOCK_ALIGN != 0) {
                return Fail(error, "the data chunk ends inside a frame");
            }
            samples.resize(size / 2);
            const uint8_t* sample = data + static_cast<size_t>(body);
            for (size_t i = 0; i < samples.size(); ++i, sample += 2) {
                samples[i] = static_cast<int16_t>(Read16(sample));
            }
            haveData = true;
        }
        // Odd-sized chunks are followed by one pad byte, which a last chunk may omit.
        uint64_t next = body + size + (size & 1u);
        pos = next > riffEnd ? riffEnd : next;
    }
    if (!haveFormat) {
        return Fail(error, "no fmt chunk");
    }
    if (!haveData) {
        return Fail(error, "no data chunk");
    }
    return true;
}

bool ReadWavFile(const char* path, std::vector<int16_t>& samples, std::string& error) {
    std::FILE* file = FileOpenUtf8(path, "rb");
    if (file == nullptr) {
        return Fail(error, "cannot open the input file");
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) {
        return Fail(error, "cannot read the input file");
    }
    return ParseWav(bytes, samples, error);
}

bool WriteWavFile(const char* path, const std::vector<int16_t>& samples, std::string& error) {
    const uint64_t dataBytes = static_cast<uint64_t>(samples.size()) * 2;
    if (dataBytes > 0xFFFFFFFFull - WAV_HEADER_BYTES) {
        return Fail(error, "the output is too long for a WAV file");
    }
    std::vector<uint8_t> out;
    out.reserve(WAV_HEADER_BYTES + static_cast<size_t>(dataBytes));
    Put32(out, 0x46464952u);
    Put32(out, static_cast<uint32_t>(36 + dataBytes));
    Put32(out, 0x45564157u);
    Put32(out, 0x20746D66u);
    Put32(out, 16);
    Put16(out, FORMAT_PCM);
    Put16(out, CHANNEL_COUNT);
    Put32(out, SAMPLE_RATE);
    Put32(out, AVG_BYTES_PER_SEC);
    Put16(out, BLOCK_ALIGN);
    Put16(out, BITS_PER_SAMPLE);
    Put32(out, 0x61746164u);
    Put32(out, static_cast<uint32_t>(dataBytes));
    for (int16_t s : samples) {
        Put16(out, static_cast<uint16_t>(s));
    }

    const std::string temp = std::string(path) + ".partial";
    std::FILE* file = FileOpenUtf8(temp.c_str(), "wb");
    if (file == nullptr) {
        return Fail(error, "cannot create the output file");
    }
    bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    ok = (std::fclose(file) == 0) && ok;
    if (!ok || !FileReplaceUtf8(temp.c_str(), path)) {
        FileRemoveUtf8(temp.c_str());
        return Fail(error, "cannot write the output file");
    }
    return true;
}
