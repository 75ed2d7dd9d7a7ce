// Files written by another tool: SoX writes the extensible format for 24 and 32 bits. They must
// give exactly what the same samples in a plain PCM file give. Skipped when SoX is not installed.
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <unistd.h>
#include <vector>

using namespace sigtest;

TEST(Interop, ExtensibleFilesFromSoxMatchPlainPcm)
{
    if (access("/usr/bin/sox", X_OK) != 0)
        GTEST_SKIP() << "SoX is not installed";
    TempDir dir;
    std::vector<int32_t> values;
    for (int n = 0; n < 8000; ++n)
        values.push_back(static_cast<int32_t>(std::lrint(9000.0 * std::sin(n * 0.07) + 3000.0 * std::cos(n * 0.31))));
    WriteFileBytes(dir.File("source.wav"), PcmWav(2, 48000, 16, StoreSamples(values, 16)));

    for (int bits : {16, 24, 32})
    {
        SCOPED_TRACE(bits);
        // SoX widens the samples; the plain file holds the same widened values.
        const std::string soxName = "sox" + std::to_string(bits) + ".wav";
        const ProcessResult sox = RunProcess("/usr/bin/sox", {dir.File("source.wav"), "-b", std::to_string(bits),
                                                             "-e", "signed-integer", dir.File(soxName)}, "");
        ASSERT_EQ(sox.status, 0) << sox.err;
        const std::string soxBytes = ReadFileBytes(dir.File(soxName));
        if (bits > 16)
        {
            EXPECT_EQ(GetU16(soxBytes, 20), 0xFFFEu); // the extensible format
        }
        const WavInfo parsed = ParseWav(soxBytes);
        ASSERT_TRUE(parsed.ok);
        const std::string plainName = "plain" + std::to_string(bits) + ".wav";
        WriteFileBytes(dir.File(plainName), PcmWav(2, 48000, static_cast<uint16_t>(bits), parsed.data));

        for (const std::string& answers : {std::string("4\n"), std::string("5\n1000\n12000\n2\n1\n")})
        {
            const ProcessResult a = RunSigrun({dir.File(soxName)}, answers);
            const ProcessResult b = RunSigrun({dir.File(plainName)}, answers);
            ASSERT_EQ(a.status, 0) << a.err;
            ASSERT_EQ(b.status, 0) << b.err;
            const std::string suffix = answers == "4\n" ? "_inv.wav" : "_amdem.wav";
            const WavInfo fromSox = ParseWav(ReadFileBytes(dir.File(soxName.substr(0, soxName.size() - 4) + suffix)));
            const WavInfo fromPlain = ParseWav(ReadFileBytes(dir.File(plainName.substr(0, plainName.size() - 4) + suffix)));
            ASSERT_TRUE(fromSox.ok);
            EXPECT_EQ(fromSox.bits, bits);
            EXPECT_FALSE(fromSox.data.empty());
            EXPECT_EQ(fromSox.data, fromPlain.data);
        }
    }
}
