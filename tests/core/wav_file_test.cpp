#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/kawauso-render/wav_file.h"

namespace {

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) {
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    }
}
void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void PutId(std::vector<uint8_t>& v, const char* id) {
    for (int i = 0; i < 4; ++i) {
        v.push_back(static_cast<uint8_t>(id[i]));
    }
}

std::vector<uint8_t> Fmt(uint16_t tag = 1, uint16_t channels = 2, uint32_t rate = 44100,
                         uint16_t bits = 16) {
    std::vector<uint8_t> c;
    PutId(c, "fmt ");
    Put32(c, 16);
    Put16(c, tag);
    Put16(c, channels);
    Put32(c, rate);
    Put32(c, rate * channels * bits / 8);
    Put16(c, static_cast<uint16_t>(channels * bits / 8));
    Put16(c, bits);
    return c;
}

std::vector<uint8_t> Chunk(const char* id, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> c;
    PutId(c, id);
    Put32(c, static_cast<uint32_t>(body.size()));
    c.insert(c.end(), body.begin(), body.end());
    if (body.size() & 1) {
        c.push_back(0);
    }
    return c;
}

std::vector<uint8_t> Riff(const std::vector<std::vector<uint8_t>>& chunks) {
    std::vector<uint8_t> body;
    PutId(body, "WAVE");
    for (const auto& c : chunks) {
        body.insert(body.end(), c.begin(), c.end());
    }
    std::vector<uint8_t> file;
    PutId(file, "RIFF");
    Put32(file, static_cast<uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

const std::vector<uint8_t> DATA = {1, 0, 2, 0, 0xFF, 0xFF, 0x00, 0x80};  // 1, 2, -1, -32768

TEST(WavFile, ReadsPcmStereoAndSkipsUnknownOddChunks) {
    std::vector<int16_t> samples;
    std::string error;
    auto file = Riff({Chunk("LIST", {1, 2, 3}), Fmt(), Chunk("junk", {9}), Chunk("data", DATA)});
    ASSERT_TRUE(ParseWav(file, samples, error)) << error;
    EXPECT_EQ(samples, (std::vector<int16_t>{1, 2, -1, -32768}));
}

TEST(WavFile, RejectsEverythingElseWithAReason) {
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
    };
    std::vector<Case> cases = {
        {"empty", {}},
        {"not riff", std::vector<uint8_t>(64, 'x')},
        {"mono", Riff({Fmt(1, 1), Chunk("data", DATA)})},
        {"48 kHz", Riff({Fmt(1, 2, 48000), Chunk("data", DATA)})},
        {"8-bit", Riff({Fmt(1, 2, 44100, 8), Chunk("data", DATA)})},
        {"float", Riff({Fmt(3, 2, 44100, 32), Chunk("data", DATA)})},
        {"no data", Riff({Fmt()})},
        {"no fmt", Riff({Chunk("data", DATA)})},
        {"data first", Riff({Chunk("data", DATA), Fmt()})},
        {"two data", Riff({Fmt(), Chunk("data", DATA), Chunk("data", DATA)})},
        {"partial frame", Riff({Fmt(), Chunk("data", {1, 0, 2, 0, 3, 0})})},
        {"short fmt", Riff({Chunk("fmt ", {1, 0, 2, 0}), Chunk("data", DATA)})},
    };
    auto truncated = Riff({Fmt(), Chunk("data", DATA)});
    truncated.resize(truncated.size() - 3);
    cases.push_back({"truncated", truncated});
    auto oversized = Riff({Fmt(), Chunk("data", DATA)});
    oversized[oversized.size() - DATA.size() - 4] = 0xF0;  // data size runs past the end
    cases.push_back({"chunk past end", oversized});
    auto riffTooBig = Riff({Fmt(), Chunk("data", DATA)});
    riffTooBig[7] = 0x7F;
    cases.push_back({"riff past end", riffTooBig});

    for (const Case& c : cases) {
        std::vector<int16_t> samples;
        std::string error;
        EXPECT_FALSE(ParseWav(c.file, samples, error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

}  // namespace
