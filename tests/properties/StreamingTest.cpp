// A stream gives the same output whether it arrives as one block or in random pieces.
#include "stages/AudioConvert.h"
#include "stages/SpInv.h"

#include "support/Signals.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace sigkit;

// Piece lengths summing to `total`, each a multiple of `unit` (the last may hold the rest).
std::vector<std::size_t> RandomPieces(std::size_t total, std::size_t unit, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> units(0, 40);
    std::vector<std::size_t> pieces;
    std::size_t used = 0;
    while (used < total)
    {
        const std::size_t piece = std::min(units(random) * unit, total - used);
        pieces.push_back(piece);
        used += piece;
    }
    return pieces;
}

std::vector<uint8_t> Drain(Stage& stage, int32_t port, const uint8_t* data, std::size_t bytes)
{
    stage.Put(port, data, static_cast<int32_t>(bytes));
    const void* block = nullptr;
    int32_t count = 0;
    stage.Get(port, &block, &count);
    const auto* out = static_cast<const uint8_t*>(block);
    return count > 0 ? std::vector<uint8_t>(out, out + count) : std::vector<uint8_t>{};
}

struct Format
{
    const char* forward;
    const char* reverse;
    std::size_t bytes;
};

TEST(Streaming, ConverterGivesTheSameBytesForOneBlockOrWholeSamplePieces)
{
    const Format formats[] = {
        {"Char2Float", "Float2Char", 1},      {"UChar2Float", "Float2UChar", 1},
        {"Short2Float", "Float2Short", 2},    {"UShort2Float", "Float2UShort", 2},
        {"24Int2Float", "Float2Int24", 3},    {"32Int2Float", "Float2Int32", 4},
        {"32Float2Float", "32Float2Float", 4}};
    std::mt19937 random(3);
    std::vector<uint8_t> stored(3 * 4 * 2000);
    for (uint8_t& b : stored)
        b = static_cast<uint8_t>(random());
    for (const Format& format : formats)
    {
        auto converter = std::make_unique<AudioConvert>();
        converter->SetParam("ConvertMode", format.forward);
        converter->SetParam("ConvertModeRev", format.reverse);
        converter->Start();
        // Stored bytes to floats, scaled so that rounding and limiting come into play.
        const std::vector<uint8_t> floatBytes = Drain(*converter, 0, stored.data(), stored.size());
        std::vector<float> floats(floatBytes.size() / 4);
        std::memcpy(floats.data(), floatBytes.data(), floatBytes.size());
        for (float& f : floats)
            f = f * 1.37f + 0.5f;
        const auto* scaled = reinterpret_cast<const uint8_t*>(floats.data());
        const std::size_t scaledBytes = 4 * floats.size();
        const std::vector<uint8_t> whole = Drain(*converter, 1, scaled, scaledBytes);
        const std::vector<uint8_t> back = Drain(*converter, 0, stored.data(), stored.size());

        std::vector<uint8_t> pieced, piecedBack;
        std::size_t at = 0;
        for (std::size_t piece : RandomPieces(scaledBytes, 4, 5))
        {
            const std::vector<uint8_t> part = Drain(*converter, 1, scaled + at, piece);
            pieced.insert(pieced.end(), part.begin(), part.end());
            at += piece;
        }
        at = 0;
        for (std::size_t piece : RandomPieces(stored.size(), format.bytes, 6))
        {
            const std::vector<uint8_t> part = Drain(*converter, 0, stored.data() + at, piece);
            piecedBack.insert(piecedBack.end(), part.begin(), part.end());
            at += piece;
        }
        EXPECT_EQ(pieced, whole) << format.reverse;
        EXPECT_EQ(piecedBack, back) << format.forward;
    }
}

TEST(Streaming, SpectralInversionGivesTheSameFloatsForOneBlockOrAnyPieces)
{
    const std::vector<float> signal = sigtest::RealTone(6001, 1500.0, 16000.0, 300.0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(signal.data());
    for (const char* mode : {"Complex", "Simpl"})
    {
        auto whole = std::make_unique<SpInv>();
        auto pieces = std::make_unique<SpInv>();
        for (SpInv* stage : {whole.get(), pieces.get()})
        {
            stage->SetParam("ModeInp", mode);
            stage->Start();
        }
        const std::vector<uint8_t> expected = Drain(*whole, 0, bytes, 4 * signal.size());
        std::vector<uint8_t> actual;
        std::size_t at = 0;
        // Any number of floats per piece: complex pairs split across pieces wait for their half.
        for (std::size_t piece : RandomPieces(4 * signal.size(), 4, 7))
        {
            const std::vector<uint8_t> part = Drain(*pieces, 0, bytes + at, piece);
            actual.insert(actual.end(), part.begin(), part.end());
            at += piece;
        }
        EXPECT_EQ(actual, expected) << mode;
    }
}

} // namespace
