// The offline renderer's files: the strict WAV reader, and the writer checked against the bytes
// it wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "tests/support/test_plugins.h"
#include "tools/kawauso-render/utf8_text.h"
#include "tools/kawauso-render/wav_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A chunk: its id, a little-endian size and the body, padded to an even length. A RIFF/WAVE
// file is the chunk "RIFF" of "WAVE" and its chunks; a fmt body is tag, channels, rate, byte
// rate, block alignment, bits; Set writes v over b from offset at.
Bytes Chunk(const char* id, const Bytes& body) {
    const size_t n = body.size();
    Bytes c = {uint8_t(id[0]), uint8_t(id[1]),  uint8_t(id[2]),   uint8_t(id[3]),
               uint8_t(n),     uint8_t(n >> 8), uint8_t(n >> 16), 0};
    c.insert(c.end(), body.begin(), body.end());
    c.resize(c.size() + (n & 1));
    return c;
}
Bytes Riff(std::initializer_list<Bytes> chunks) {
    Bytes body = {'W', 'A', 'V', 'E'};
    for (const Bytes& c : chunks) {
        body.insert(body.end(), c.begin(), c.end());
    }
    return Chunk("RIFF", body);
}
Bytes Fmt(uint8_t tag, uint8_t channels, uint32_t rate, uint32_t byteRate, uint8_t align,
          uint8_t bits) {
    return Chunk("fmt ", {tag, 0, channels, 0, uint8_t(rate), uint8_t(rate >> 8),
                          uint8_t(rate >> 16), 0, uint8_t(byteRate), uint8_t(byteRate >> 8),
                          uint8_t(byteRate >> 16), 0, align, 0, bits, 0});
}
Bytes Set(Bytes b, size_t at, const Bytes& v) {
    std::copy(v.begin(), v.end(), b.begin() + at);
    return b;
}

const Bytes FMT = Fmt(1, 2, 44100, 176400, 4, 16);
const Bytes DATA = Chunk("data", {1, 0, 2, 0, 0xFF, 0xFF, 0x00, 0x80}); // 1, 2, -1, -32768
const Bytes WAV = Riff({FMT, DATA}), OPEN = {0xFF, 0xFF, 0xFF, 0xFF};   // sizes at 4 and 40
// FMT as WAVE_FORMAT_EXTENSIBLE: cbSize 22, valid bits 16 (at 26), mask 3, PCM's GUID (at 32).
const Bytes EXT =
    Chunk("fmt ", {0xFE, 0xFF, 2,    0, 0x44, 0xAC, 0, 0,    0x10, 0xB1, 2,    0,   4, 0,
                   16,   0,    22,   0, 16,   0,    3, 0,    0,    0,    1,    0,   0, 0,
                   0,    0,    0x10, 0, 0x80, 0,    0, 0xAA, 0,    0x38, 0x9B, 0x71});

// Unknown odd chunks are skipped, sizes left open by a writer into a pipe count the whole
// frames present, extensible PCM is PCM; everything else is refused for its reason.
TEST(RenderFilesTest, TheReaderTakesPcmStereoAndRefusesTheRestForItsReason) {
    std::vector<int16_t> samples;
    std::string error;
    for (const Bytes& file :
         {Riff({Chunk("LIST", {1, 2, 3}), FMT, Chunk("junk", {9}), DATA}),
          Set(Bytes(WAV.size() + 3), 0, Set(Set(WAV, 4, OPEN), 40, OPEN)), // + 3 bytes of a frame
          Set(Set(WAV, 4, {0x24, 0xF0, 0xFF, 0x7F}), 40, {0, 0xF0, 0xFF, 0x7F}), Riff({EXT, DATA}),
          Riff({Set(EXT, 26, {0, 0, 0}), DATA})}) {
        EXPECT_TRUE(ParseWav(file, samples, error)) << error;
        EXPECT_EQ(samples, (std::vector<int16_t>{1, 2, -1, -32768}));
    }
    const std::string format = "not 44100 Hz, 16-bit, 2-channel audio";
    const std::string inconsistent = "inconsistent block alignment or byte rate";
    // clang-format off
    const std::pair<Bytes, std::string> cases[] = {
        {{}, "not a RIFF/WAVE file"}, {Bytes(64, 'x'), "not a RIFF/WAVE file"},
        {Riff({Fmt(3, 2, 44100, 352800, 8, 32), DATA}), "not PCM audio"},
        {Riff({Set(EXT, 32, {3}), DATA}), "not PCM audio: the extensible format's sub-format is not PCM"},
        {Riff({Set(EXT, 26, {12}), DATA}), format}, {Riff({Set(EXT, 24, {20}), DATA}), "the fmt chunk is too short"},
        {Riff({Set(FMT, 8, {0xFE, 0xFF}), DATA}), "the fmt chunk is too short"}, {Riff({DATA}), "no fmt chunk"},
        {Riff({Fmt(1, 1, 44100, 88200, 2, 16), DATA}), format}, {Riff({Fmt(1, 2, 48000, 192000, 4, 16), DATA}), format},
        {Riff({Fmt(1, 2, 44100, 88200, 2, 8), DATA}), format},
        {Riff({Fmt(1, 2, 44100, 176400, 2, 16), DATA}), inconsistent}, {Riff({Fmt(1, 2, 44100, 88200, 4, 16), DATA}), inconsistent},
        {Riff({Chunk("fmt ", {1, 0, 2, 0}), DATA}), "the fmt chunk is too short"},
        {Riff({FMT, FMT, DATA}), "more than one fmt chunk"}, {Riff({FMT}), "no data chunk"}, {Riff({}), "no fmt chunk"},
        {Riff({DATA, FMT}), "the data chunk comes before the fmt chunk"}, {Riff({FMT, DATA, DATA}), "more than one data chunk"},
        {Riff({FMT, Chunk("data", {1, 0, 2, 0, 3, 0})}), "the data chunk ends inside a frame"},
        {Riff({FMT, {'d', 'a', 't', 'a'}}), "truncated chunk header"},
        {Set(WAV, 16, OPEN), "truncated file: a chunk runs past the end"}, {Set(WAV, 4, {3, 0, 0, 0}), "the RIFF size is too small"}};
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_FALSE(ParseWav(c.first, samples, error)) << c.second;
        EXPECT_EQ(error, c.second);
    }
}

// The header's sizes must count the bytes on disk, not merely satisfy the reader.
TEST(RenderFilesTest, TheWriterCountsTheBytesItWrote) {
    const std::string path = ProgramDirectory() + PATH_SEPARATOR + "written.wav";
    for (size_t count : {0, 2, 2206}) {
        std::vector<int16_t> samples(count), back;
        std::generate(samples.begin(), samples.end(),
                      [i = 0]() mutable { return int16_t(i++ * 7919); });
        std::string error;
        ASSERT_TRUE(WriteWavFile(path.c_str(), samples, error)) << error;
        std::ifstream file(path, std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        ASSERT_EQ(bytes.size(), 44 + 2 * count);
        EXPECT_EQ(bytes[4] | bytes[5] << 8 | bytes[6] << 16, bytes.size() - 8);     // RIFF
        EXPECT_EQ(bytes[40] | bytes[41] << 8 | bytes[42] << 16, bytes.size() - 44); // data
        EXPECT_TRUE(ReadWavFile(path.c_str(), back, error)) << error;
        EXPECT_EQ(back, samples);
    }
    FileRemoveUtf8(path.c_str());
}

// Plug-in paths from the command line: malformed UTF-8 becomes U+FFFD, nothing is dropped.
TEST(RenderFilesTest, Utf8ArgumentsBecomeWideText) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"plug\xC3\xA9", L"plug\u00E9"},
        {"\xE3\x83\x97", L"\u30D7"},
        {"a\xF0\x9F\x8E\xB5z", sizeof(wchar_t) == 2 ? L"a\xD83C\xDFB5z" // UTF-16 or UTF-32
                                                    : std::wstring(L"a") + wchar_t(0x1F3B5) + L"z"},
        {"a\x80z", L"a\uFFFDz"},
        {"\xC0\xAF", L"\uFFFD"},
        {"\xED\xA0\x80", L"\uFFFD"},
        {"\xF4\x90\x80\x80", L"\uFFFD"},
        {"\xE3\x83z", L"\uFFFDz"},
        {"\xFF\xFE", L"\uFFFD\uFFFD"}};
    for (const auto& c : cases) {
        EXPECT_EQ(WideFromUtf8(c.first), c.second) << c.first;
    }
}

} // namespace
