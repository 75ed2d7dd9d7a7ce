// The sigkit_spectrum_ calls and the metadata calls on the sigkit.h handles: a tone found where
// it is in every array the API hands out, the picture and the station list with their sizes,
// refusals of bad records, buffers and files; metadata read from a recorder's file name, moved
// into an output and read back by sigkit_wav_open.
#include "sigkit.h"
#include "sigkit_api.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// One second of I/Q float samples at 48 kHz: a tone at f over a little noise.
void WriteTone(const std::string& path, double f)
{
    std::vector<float> iq(2 * 48000);
    uint32_t noise = 7;
    for (std::size_t n = 0; n < 48000; ++n)
    {
        noise = noise * 1664525u + 1013904223u;
        const float jitter = (static_cast<float>(noise >> 8) / 16777216.0f - 0.5f) * 1e-4f;
        iq[2 * n] = static_cast<float>(0.3 * std::cos(2 * kPi * f * n / 48000.0)) + jitter;
        iq[2 * n + 1] = static_cast<float>(0.3 * std::sin(2 * kPi * f * n / 48000.0)) - jitter;
    }
    sigkit_wav_format shape;
    sigkit_wav_format_init(&shape, SIGKIT_ENCODING_F32, 48000, 2);
    sigkit_wav_writer* w = nullptr;
    ASSERT_EQ(sigkit_wav_create(path.c_str(), &shape, &w), SIGKIT_OK);
    ASSERT_EQ(sigkit_wav_write(w, iq.data(), 48000), SIGKIT_OK);
    ASSERT_EQ(sigkit_wav_close(w), SIGKIT_OK);
}

sigkit_spectrum_request Request()
{
    sigkit_spectrum_request request;
    sigkit_spectrum_request_init(&request);
    request.width = 800;
    request.height = 500;
    return request;
}

TEST(SpectrumApi, ToneInTheAverageTheWaterfallThePictureAndTheList)
{
    sigtest::TempDir dir;
    const std::string path = dir.File("tone.wav");
    WriteTone(path, -7000);
    sigkit_spectrum_request request = Request();
    request.metadata = SIGKIT_META_CENTRE_FREQUENCY;
    request.centre_frequency = 14.2e6;
    sigkit_spectrum* s = nullptr;
    ASSERT_EQ(sigkit_spectrum_open(path.c_str(), &request, &s), SIGKIT_OK);

    sigkit_spectrum_info info{};
    info.size = sizeof info;
    ASSERT_EQ(sigkit_spectrum_get_info(s, &info), SIGKIT_OK);
    EXPECT_EQ(info.complex_samples, 1);
    EXPECT_EQ(info.rate, 48000.0);
    EXPECT_EQ(info.low_frequency, -24000.0);
    EXPECT_EQ(info.high_frequency, 24000.0);
    EXPECT_EQ(info.metadata, SIGKIT_META_CENTRE_FREQUENCY);
    EXPECT_EQ(info.centre_frequency, 14.2e6);
    EXPECT_NEAR(info.duration_seconds, 1.0, 1e-9);
    ASSERT_GT(info.rows, 10);
    ASSERT_GT(info.columns, 100);

    std::vector<double> hz(static_cast<std::size_t>(info.bins));
    std::vector<float> db(hz.size());
    EXPECT_EQ(sigkit_spectrum_average(s, hz.data(), db.data(), hz.size() - 1),
              SIGKIT_E_BUFFER_TOO_SMALL);
    ASSERT_EQ(sigkit_spectrum_average(s, hz.data(), db.data(), hz.size()), SIGKIT_OK);
    const auto peak = std::max_element(db.begin(), db.end()) - db.begin();
    EXPECT_NEAR(hz[static_cast<std::size_t>(peak)], -7000.0, info.bin_width);

    std::vector<float> waterfall(static_cast<std::size_t>(info.rows) * info.columns);
    EXPECT_EQ(sigkit_spectrum_waterfall(s, waterfall.data(), waterfall.size() - 1),
              SIGKIT_E_BUFFER_TOO_SMALL);
    ASSERT_EQ(sigkit_spectrum_waterfall(s, waterfall.data(), waterfall.size()), SIGKIT_OK);
    const std::size_t middle = static_cast<std::size_t>(info.rows / 2) * info.columns;
    const auto column =
        std::max_element(waterfall.begin() + middle, waterfall.begin() + middle + info.columns) -
        (waterfall.begin() + middle);
    const double columnHz = info.low_frequency + (column + 0.5) / info.columns * 48000.0;
    EXPECT_NEAR(columnHz, -7000.0, 2 * 48000.0 / info.columns);

    int32_t width = 0, height = 0;
    ASSERT_EQ(sigkit_spectrum_picture(s, NAN, NAN, nullptr, 0, &width, &height), SIGKIT_OK);
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 500);
    std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    EXPECT_EQ(sigkit_spectrum_picture(s, NAN, NAN, rgb.data(), rgb.size() - 1, &width, &height),
              SIGKIT_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(sigkit_spectrum_picture(s, -10, NAN, rgb.data(), rgb.size(), &width, &height),
              SIGKIT_E_INVALID);
    EXPECT_EQ(sigkit_spectrum_picture(s, 0, -10, rgb.data(), rgb.size(), &width, &height),
              SIGKIT_E_INVALID);
    ASSERT_EQ(sigkit_spectrum_picture(s, -120, 0, rgb.data(), rgb.size(), &width, &height),
              SIGKIT_OK);
    EXPECT_NE(std::count(rgb.begin(), rgb.end(), 0), static_cast<long>(rgb.size()));

    for (int32_t json : {0, 1})
    {
        std::size_t length = 0;
        ASSERT_EQ(sigkit_spectrum_stations(s, json, nullptr, 0, &length), SIGKIT_OK);
        std::vector<char> text(length + 1, 'x');
        EXPECT_EQ(sigkit_spectrum_stations(s, json, text.data(), length, &length),
                  SIGKIT_E_BUFFER_TOO_SMALL);
        ASSERT_EQ(sigkit_spectrum_stations(s, json, text.data(), text.size(), &length), SIGKIT_OK);
        EXPECT_EQ(std::strlen(text.data()), length);
        const std::string listed(text.data());
        if (json == 0)
        {
            EXPECT_NE(listed.find("14.19300 MHz"), std::string::npos) << listed;
            continue;
        }
        const std::string key = "\"frequency_hz\": ";
        ASSERT_NE(listed.find(key), std::string::npos) << listed;
        EXPECT_NEAR(std::strtod(listed.c_str() + listed.find(key) + key.size(), nullptr),
                    14193000.0, info.bin_width);
        // One tone, one station: nothing else rises above the floor.
        EXPECT_EQ(listed.find(key, listed.find(key) + 1), std::string::npos) << listed;
    }
    sigkit_spectrum_destroy(s);
    sigkit_spectrum_destroy(nullptr);
}

TEST(SpectrumApi, RefusesBadRequestsFilesAndPointers)
{
    sigtest::TempDir dir;
    const std::string path = dir.File("tone.wav");
    WriteTone(path, 3000);
    sigkit_spectrum* s = reinterpret_cast<sigkit_spectrum*>(1);
    sigkit_spectrum_request request = Request();
    EXPECT_EQ(sigkit_spectrum_open(nullptr, &request, &s), SIGKIT_E_NULL);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(sigkit_spectrum_open(path.c_str(), nullptr, &s), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_spectrum_open(path.c_str(), &request, nullptr), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_spectrum_open(dir.File("missing.wav").c_str(), &request, &s),
              SIGKIT_E_NOT_FOUND);
    sigtest::WriteFileBytes(dir.File("text.wav"), "not a WAV file at all, only text");
    EXPECT_EQ(sigkit_spectrum_open(dir.File("text.wav").c_str(), &request, &s), SIGKIT_E_FORMAT);

    const auto refused = [&](auto change) {
        sigkit_spectrum_request bad = Request();
        change(bad);
        sigkit_spectrum* made = nullptr;
        const int status = sigkit_spectrum_open(path.c_str(), &bad, &made);
        EXPECT_EQ(made, nullptr);
        sigkit_spectrum_destroy(made);
        return status;
    };
    EXPECT_EQ(refused([](sigkit_spectrum_request& r) { r.size = 8; }), SIGKIT_E_RECORD_SIZE);
    EXPECT_EQ(refused([](sigkit_spectrum_request& r) { r.width = -1; }), SIGKIT_E_INVALID);
    EXPECT_EQ(refused([](sigkit_spectrum_request& r) { r.fft_size = 1000; }), SIGKIT_E_INVALID);
    EXPECT_EQ(refused([](sigkit_spectrum_request& r) { r.start_seconds = NAN; }), SIGKIT_E_INVALID);
    EXPECT_EQ(refused([](sigkit_spectrum_request& r) { r.start_seconds = 2.0; }), SIGKIT_E_INVALID);
    EXPECT_EQ(refused([](sigkit_spectrum_request& r) { r.span_width = -5; }), SIGKIT_E_INVALID);
    EXPECT_EQ(refused([](sigkit_spectrum_request& r) {
                  r.span_centre = 20000;
                  r.span_width = 10000;
              }),
              SIGKIT_E_INVALID);
    EXPECT_EQ(refused([](sigkit_spectrum_request& r) { r.metadata = 4; }), SIGKIT_E_INVALID);
    EXPECT_EQ(refused([](sigkit_spectrum_request& r) {
                  r.metadata = SIGKIT_META_START_TIME;
                  r.start_time = 1e300;
              }),
              SIGKIT_E_INVALID);

    sigkit_spectrum_info info{};
    info.size = 16;
    EXPECT_EQ(sigkit_spectrum_get_info(nullptr, &info), SIGKIT_E_NULL);
    float level = 0;
    EXPECT_EQ(sigkit_spectrum_waterfall(nullptr, &level, 1), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_spectrum_average(nullptr, nullptr, &level, 1), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_spectrum_stations(nullptr, 0, nullptr, 0, nullptr), SIGKIT_E_NULL);
    ASSERT_EQ(sigkit_spectrum_open(path.c_str(), &request, &s), SIGKIT_OK);
    EXPECT_EQ(sigkit_spectrum_get_info(s, &info), SIGKIT_E_RECORD_SIZE);
    sigkit_spectrum_destroy(s);
}

// Reads a file through the sigkit.h reading handle and writes it again through
// sigkit_wav_write_init_metadata with the change given.
void CopyWithMetadata(const std::string& in, const std::string& out,
                      const sigkit_output_metadata* change, uint32_t& bits, double& centre,
                      double& start)
{
    WavDescription d{};
    std::snprintf(d.name, sizeof d.name, "%s", in.c_str());
    WavReadHandle* reader = nullptr;
    ASSERT_EQ(wav_read_init(&d, &reader), 1);
    ASSERT_EQ(d.valid, 1u);
    ASSERT_EQ(sigkit_wav_read_metadata(reader, &bits, &centre, &start), 1);
    WavDescription o = d;
    std::snprintf(o.name, sizeof o.name, "%s", out.c_str());
    WavWriteHandle* writer = nullptr;
    ASSERT_EQ(sigkit_wav_write_init_metadata(o, reader, change, &writer), 1);
    const void* block = nullptr;
    int32_t bytes = 0;
    while (wav_read_data(reader, &block, &bytes) == 1 && bytes > 0)
        ASSERT_EQ(wav_write_data(writer, block, bytes), 1);
    ASSERT_EQ(wav_write_free(writer), 1);
    wav_read_free(reader);
}

TEST(MetadataApi, FromTheFileNameMovedIntoTheOutputAndReadBack)
{
    sigtest::TempDir dir;
    const std::string in = dir.File("rec_20240101_120000Z_7100kHz_IQ.wav");
    WriteTone(in, 1000);
    uint32_t bits = 0;
    double centre = 0, start = 0;
    sigkit_output_metadata change{};
    change.size = sizeof change;
    change.shift = -2500;
    change.input_rate = 48000;
    change.output_rate = 12000;
    change.complex_output = 1;
    change.dropped_frames = 480; // 10 ms
    CopyWithMetadata(in, dir.File("out.wav"), &change, bits, centre, start);
    EXPECT_EQ(bits, SIGKIT_META_CENTRE_FREQUENCY | SIGKIT_META_START_TIME);
    EXPECT_EQ(centre, 7100000.0);
    EXPECT_EQ(start, 1704110400.0);

    sigkit_wav_info info{};
    info.size = sizeof info;
    sigkit_wav_reader* r = nullptr;
    ASSERT_EQ(sigkit_wav_open(dir.File("out.wav").c_str(), &info, &r), SIGKIT_OK);
    sigkit_wav_close_reader(r);
    EXPECT_EQ(info.metadata, SIGKIT_META_CENTRE_FREQUENCY | SIGKIT_META_START_TIME);
    EXPECT_EQ(info.centre_frequency, 7097500.0);
    EXPECT_NEAR(info.start_time, 1704110400.010, 1e-6);

    // A file without metadata, nothing given: no auxi chunk, the same bytes as wav_write_init.
    const std::string plain = dir.File("plain.wav");
    WriteTone(plain, 1000);
    CopyWithMetadata(plain, dir.File("plain_out.wav"), &change, bits, centre, start);
    EXPECT_EQ(bits, 0u);
    CopyWithMetadata(plain, dir.File("plain_ref.wav"), nullptr, bits, centre, start);
    EXPECT_EQ(sigtest::ReadFileBytes(dir.File("plain_out.wav")),
              sigtest::ReadFileBytes(dir.File("plain_ref.wav")));
    EXPECT_EQ(sigtest::ReadFileBytes(dir.File("plain_out.wav")).find("auxi"), std::string::npos);

    // Given fields count where the input has none.
    change.metadata = SIGKIT_META_CENTRE_FREQUENCY;
    change.centre_frequency = 100e6;
    CopyWithMetadata(plain, dir.File("given.wav"), &change, bits, centre, start);
    ASSERT_EQ(sigkit_wav_open(dir.File("given.wav").c_str(), &info, &r), SIGKIT_OK);
    sigkit_wav_close_reader(r);
    EXPECT_EQ(info.metadata, SIGKIT_META_CENTRE_FREQUENCY);
    EXPECT_EQ(info.centre_frequency, 99997500.0);
}

TEST(MetadataApi, RefusesBadHandlesAndChanges)
{
    uint32_t bits = 9;
    double centre = 1, start = 1;
    EXPECT_EQ(sigkit_wav_read_metadata(nullptr, &bits, &centre, &start), 0);
    EXPECT_EQ(bits, 0u);
    EXPECT_EQ(centre, 0.0);

    sigtest::TempDir dir;
    WavDescription o{};
    std::snprintf(o.name, sizeof o.name, "%s", dir.File("out.wav").c_str());
    o.formatTag = 1;
    o.channels = 2;
    o.sampleRate = 48000;
    o.byteRate = 192000;
    o.blockAlign = 4;
    o.bitsPerSample = 16;
    WavWriteHandle* writer = reinterpret_cast<WavWriteHandle*>(1);
    sigkit_output_metadata change{};
    change.size = 4;
    EXPECT_EQ(sigkit_wav_write_init_metadata(o, nullptr, &change, &writer), 0);
    EXPECT_EQ(writer, nullptr);
    change.size = sizeof change;
    for (double bad : {std::numeric_limits<double>::infinity(), -1.0})
    {
        change.input_rate = bad;
        EXPECT_EQ(sigkit_wav_write_init_metadata(o, nullptr, &change, &writer), 0);
    }
    change.input_rate = 48000;
    change.metadata = 8;
    EXPECT_EQ(sigkit_wav_write_init_metadata(o, nullptr, &change, &writer), 0);
    change.metadata = SIGKIT_META_START_TIME;
    change.start_time = NAN;
    EXPECT_EQ(sigkit_wav_write_init_metadata(o, nullptr, &change, &writer), 0);
    EXPECT_FALSE(sigtest::FileExists(dir.File("out.wav")));
    EXPECT_EQ(sigkit_wav_write_init_metadata(o, nullptr, &change, nullptr), 0);
}

} // namespace
