#include "tools/kawauso-render/wav_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "audio/audio_format.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t WAV_HEADER_BYTES = 44;
constexpr size_t WRITE_PIECE_BYTES = size_t{1} << 20;
constexpr uint16_t FORMAT_PCM = 1;
constexpr uint16_t FORMAT_EXTENSIBLE = 0xFFFE;

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

// The extensible form's tail: cbSize, valid bits, channel mask, then the sub-format GUID.
constexpr uint32_t EXTENSIBLE_FMT_BYTES = 40;
constexpr uint16_t EXTENSIBLE_EXTRA_BYTES = 22;
constexpr uint8_t SUBTYPE_PCM[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                     0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool CheckFormat(const uint8_t* fmt, uint32_t size, std::string& error) {
    if (size < 16) {
        return Fail(error, "the fmt chunk is too short");
    }
    const uint16_t tag = Read16(fmt);
    // Any channel mask will do: two channels are taken as left and right whatever it says.
    uint16_t validBits = 0;
    if (tag == FORMAT_EXTENSIBLE) {
        if (size < EXTENSIBLE_FMT_BYTES || Read16(fmt + 16) < EXTENSIBLE_EXTRA_BYTES) {
            return Fail(error, "the fmt chunk is too short");
        }
        if (std::memcmp(fmt + 24, SUBTYPE_PCM, sizeof SUBTYPE_PCM) != 0) {
            return Fail(error, "not PCM audio: the extensible format's sub-format is not PCM");
        }
        validBits = Read16(fmt + 18);
    } else if (tag != FORMAT_PCM) {
        return Fail(error, "not PCM audio");
    }
    if (Read16(fmt + 2) != CHANNEL_COUNT || Read32(fmt + 4) != SAMPLE_RATE ||
        Read16(fmt + 14) != BITS_PER_SAMPLE || (validBits != 0 && validBits != BITS_PER_SAMPLE)) {
        return Fail(error, "not 44100 Hz, 16-bit, 2-channel audio");
    }
    if (Read16(fmt + 12) != BLOCK_ALIGN || Read32(fmt + 8) != AVG_BYTES_PER_SEC) {
        return Fail(error, "inconsistent block alignment or byte rate");
    }
    return true;
}

} // namespace

bool ParseWav(const std::vector<uint8_t>& bytes, std::vector<int16_t>& samples,
              std::string& error) {
    const size_t fileSize = bytes.size();
    if (fileSize < 12 || Read32(&bytes[0]) != 0x46464952u /* RIFF */ ||
        Read32(&bytes[8]) != 0x45564157u /* WAVE */) {
        return Fail(error, "not a RIFF/WAVE file");
    }
    // A writer that cannot seek back (into a pipe) leaves 0xFFFFFFFF or a guess in the RIFF
    // size, so one past the end of the file only means "up to the end".
    uint64_t end = 8 + static_cast<uint64_t>(Read32(&bytes[4]));
    if (end < 12) {
        return Fail(error, "the RIFF size is too small");
    }
    if (end > fileSize) {
        end = fileSize;
    }

    // Every position below is checked against end <= fileSize before it is used, so it fits
    // size_t. The chunks are found first, so that a missing fmt chunk is told apart from one
    // that comes too late.
    const uint8_t* data = bytes.data();
    uint64_t fmtAt = 0, dataAt = 0; // body positions; 0: not seen
    uint32_t fmtSize = 0, dataSize = 0;
    uint64_t pos = 12;
    while (pos < end) {
        if (end - pos < 8) {
            return Fail(error, "truncated chunk header");
        }
        const uint32_t id = Read32(data + static_cast<size_t>(pos));
        uint32_t size = Read32(data + static_cast<size_t>(pos) + 4);
        const uint64_t body = pos + 8;
        const bool isData = id == 0x61746164u /* "data" */;
        // Odd-sized chunks are followed by one pad byte, which a last chunk may omit.
        const uint64_t next = body + size + (size & 1u);
        if (size > end - body) {
            if (!isData) {
                return Fail(error, "truncated file: a chunk runs past the end");
            }
            // The same writers leave the data size open: the rest of the file is the data, in
            // the whole frames present (and next already lies past the end).
            size = static_cast<uint32_t>((end - body) / BLOCK_ALIGN * BLOCK_ALIGN);
        }
        if (id == 0x20746D66u /* "fmt " */) {
            if (fmtAt != 0) {
                return Fail(error, "more than one fmt chunk");
            }
            fmtAt = body;
            fmtSize = size;
        } else if (isData) {
            if (dataAt != 0) {
                return Fail(error, "more than one data chunk");
            }
            dataAt = body;
            dataSize = size;
        }
        pos = next > end ? end : next;
    }
    if (fmtAt == 0) {
        return Fail(error, "no fmt chunk");
    }
    if (dataAt != 0 && dataAt < fmtAt) {
        return Fail(error, "the data chunk comes before the fmt chunk");
    }
    if (!CheckFormat(data + static_cast<size_t>(fmtAt), fmtSize, error)) {
        return false;
    }
    if (dataAt == 0) {
        return Fail(error, "no data chunk");
    }
    if (dataSize % BLOCK_ALIGN != 0) {
        return Fail(error, "the data chunk ends inside a frame");
    }
    samples.resize(dataSize / 2);
    const uint8_t* sample = data + static_cast<size_t>(dataAt);
    for (size_t i = 0; i < samples.size(); ++i, sample += 2) {
        samples[i] = static_cast<int16_t>(Read16(sample));
    }
    return true;
}

bool ReadWavFile(const char* path, std::vector<int16_t>& samples, std::string& error) {
    std::FILE* file = FileOpenUtf8(path, "rb");
    if (file == nullptr) {
        return Fail(error, "cannot open the input file");
    }
    // A file larger than the address space allows (on a 32-bit build) is refused, not a crash:
    // bad_alloc, or length_error past max_size, while it is read or its samples are unpacked.
    const char* const TOO_LARGE = "the input file is too large to hold in memory";
    std::vector<uint8_t> bytes;
    bool tooLarge = false;
    try {
        uint8_t chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
    } catch (const std::exception&) {
        tooLarge = true;
    }
    bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (tooLarge || readError) {
        return Fail(error, tooLarge ? TOO_LARGE : "cannot read the input file");
    }
    try {
        return ParseWav(bytes, samples, error);
    } catch (const std::exception&) {
        return Fail(error, TOO_LARGE);
    }
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

    std::string finalPath;
    const OutputKind kind = ClassifyOutputUtf8(path, finalPath);
    if (kind == OutputKind::Directory) {
        return Fail(error, "is a directory, not a file to write");
    }
    // A pipe or a device takes the data as it is; a file is written beside its final place
    // (a link's target) and renamed over it, so a failed write leaves the old one whole.
    const std::string written = kind == OutputKind::Stream ? path : finalPath + ".partial";
    std::FILE* file = FileOpenUtf8(written.c_str(), "wb");
    if (file == nullptr) {
        return Fail(error, "cannot create the output file");
    }
    // The Windows runtime's fwrite fails outright on 2 GiB or more at once: write in pieces.
    bool ok = true;
    for (size_t at = 0; ok && at < out.size(); at += WRITE_PIECE_BYTES) {
        const size_t n = std::min(WRITE_PIECE_BYTES, out.size() - at);
        ok = std::fwrite(out.data() + at, 1, n, file) == n;
    }
    ok = (std::fclose(file) == 0) && ok;
    if (kind == OutputKind::Stream) {
        return ok || Fail(error, "cannot write the output");
    }
    if (!ok || !FileReplaceUtf8(written.c_str(), finalPath.c_str())) {
        FileRemoveUtf8(written.c_str());
        return Fail(error, "cannot write the output file");
    }
    return true;
}
