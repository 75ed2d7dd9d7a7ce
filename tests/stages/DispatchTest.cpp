// The variant override (SIGKIT_ISA) and the dispatcher's own choice: which words force which
// tables, what a process that reads the variable then runs, and that the automatic table is made
// of the variants' own kernels. (That every variant gives the same output bytes is proven by the
// golden outputs, run once per variant: tests/golden.)
#include "dsp/fft/FftKernels.h"
#include "stages/demod/DemodKernels.h"
#include "stages/kernels/Calibration.h"
#include "stages/kernels/Kernels.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

namespace {

using namespace sigkit::kernels;

TEST(Dispatch, OnlyTheThreeWordsNameAVariant)
{
    Isa isa = Isa::Avx512;
    EXPECT_TRUE(IsaFromWord("scalar", isa));
    EXPECT_EQ(isa, Isa::Scalar);
    EXPECT_TRUE(IsaFromWord("avx2", isa));
    EXPECT_EQ(isa, Isa::Avx2);
    EXPECT_TRUE(IsaFromWord("avx512", isa));
    EXPECT_EQ(isa, Isa::Avx512);
    for (const char* other : {"", "AVX2", "Avx512", " avx2", "avx2 ", "avx", "avx-512", "sse2",
                              "avx512f", "scalar\n", "0"})
    {
        isa = Isa::Avx2;
        EXPECT_FALSE(IsaFromWord(other, isa)) << '"' << other << '"';
        EXPECT_EQ(isa, Isa::Avx2) << "a word that names nothing leaves the variant as it was";
    }
    EXPECT_FALSE(IsaFromWord(nullptr, isa));
}

TEST(Dispatch, AWordForcesItsVariantWhereTheProcessorRunsItAndOtherWordsForceNothing)
{
    EXPECT_EQ(ForcedBy("scalar"), TableFor(Isa::Scalar));
    // A variant the processor lacks forces nothing (TableFor gives nullptr for it too).
    EXPECT_EQ(ForcedBy("avx2"), TableFor(Isa::Avx2));
    EXPECT_EQ(ForcedBy("avx512"), TableFor(Isa::Avx512));
    EXPECT_EQ(ForcedBy("AVX512"), nullptr);
    EXPECT_EQ(ForcedBy("fast"), nullptr);
    EXPECT_EQ(ForcedBy(nullptr), nullptr);
}

// Every kernel of the automatic table is the same kernel of one of the variants, and the vector
// kernels come from the widest two the processor has.
TEST(Dispatch, TheAutomaticTableTakesEachKernelFromAVariant)
{
    const KernelTable& automatic = Automatic();
    const KernelTable* avx512 = TableFor(Isa::Avx512);
    const KernelTable* avx2 = TableFor(Isa::Avx2);
    if (avx512 == nullptr)
    {
        EXPECT_EQ(&automatic, avx2 != nullptr ? avx2 : TableFor(Isa::Scalar));
        return;
    }
    ASSERT_NE(avx2, nullptr);
    EXPECT_EQ(automatic.isa, Isa::Avx512);
    const auto fromEither = [&](auto slot) {
        return automatic.*slot == avx512->*slot || automatic.*slot == avx2->*slot;
    };
    EXPECT_TRUE(fromEither(&KernelTable::dot));
    EXPECT_TRUE(fromEither(&KernelTable::firBlock));
    EXPECT_TRUE(fromEither(&KernelTable::firBlockOddTaps));
    EXPECT_TRUE(fromEither(&KernelTable::dotPair));
    EXPECT_TRUE(fromEither(&KernelTable::dotPairTwice));
    EXPECT_TRUE(fromEither(&KernelTable::oscillate));
    EXPECT_TRUE(fromEither(&KernelTable::shiftApprox));
    EXPECT_TRUE(fromEither(&KernelTable::mix));
    EXPECT_TRUE(fromEither(&KernelTable::storeReversed));
    EXPECT_TRUE(fromEither(&KernelTable::deinterleave));
    for (int format = 0; format < kStoredFormatCount; ++format)
    {
        EXPECT_EQ(automatic.toFloat[format], avx512->toFloat[format]);
        EXPECT_EQ(automatic.fromFloat[format], avx512->fromFloat[format]);
    }
    std::printf("automatic kernels: %s\n", automatic.name);
}

// The processors whose AVX-512 is known to run at full width take it without timing; the ones
// whose AVX-512 runs in two halves (and all others) are timed.
TEST(Dispatch, OnlyKnownFullWidthProcessorsSkipTheCalibration)
{
    EXPECT_TRUE(KnownFullWidth("AuthenticAMD", 0x1A, 0x02));  // server
    EXPECT_TRUE(KnownFullWidth("AuthenticAMD", 0x1A, 0x44));  // desktop
    EXPECT_FALSE(KnownFullWidth("AuthenticAMD", 0x1A, 0x24)); // mobile: two halves
    EXPECT_FALSE(KnownFullWidth("AuthenticAMD", 0x19, 0x11)); // two halves
    EXPECT_FALSE(KnownFullWidth("AuthenticAMD", 0x19, 0x61));
    EXPECT_FALSE(KnownFullWidth("GenuineIntel", 0x06, 0x8F));
    EXPECT_FALSE(KnownFullWidth(nullptr, 0x1A, 0x02));
    // On such a processor the automatic table is the AVX-512 one itself.
    if (ThisProcessorKnownFullWidth() && TableFor(Isa::Avx512) != nullptr)
    {
        EXPECT_EQ(&Automatic(), TableFor(Isa::Avx512));
    }
}

// The probe's "what name" lines.
std::map<std::string, std::string> Probe(const char* word)
{
    if (word != nullptr)
        setenv(kIsaVariable, word, 1);
    else
        unsetenv(kIsaVariable);
    const sigtest::ProcessResult result = sigtest::RunProcess(ISA_PROBE_PATH, {}, "");
    unsetenv(kIsaVariable);
    std::map<std::string, std::string> lines;
    std::istringstream text(result.out);
    std::string what;
    std::string name;
    while (text >> what && std::getline(text >> std::ws, name))
        lines[what] = name;
    EXPECT_EQ(result.status, 0);
    return lines;
}

TEST(Dispatch, SigkitIsaChoosesTheKernelsTransformsAndDemodulatorsOfAProcess)
{
    for (const char* word : {"scalar", "avx2", "avx512"})
    {
        std::map<std::string, std::string> chosen = Probe(word);
        SCOPED_TRACE(word);
        if (ForcedBy(word) == nullptr)
        {
            // Not on this processor: as if unset.
            EXPECT_EQ(chosen["forced"], "none");
            EXPECT_EQ(chosen["kernels"], chosen["automatic"]);
            continue;
        }
        EXPECT_EQ(chosen["forced"], word);
        EXPECT_EQ(chosen["kernels"], word);
        EXPECT_EQ(chosen["fft"], word);
        EXPECT_EQ(chosen["demod"], word);
    }
    for (const char* word : {static_cast<const char*>(nullptr), "", "AVX2", "avx", "turbo"})
    {
        std::map<std::string, std::string> chosen = Probe(word);
        SCOPED_TRACE(word != nullptr ? word : "(unset)");
        EXPECT_EQ(chosen["forced"], "none");
        EXPECT_EQ(chosen["kernels"], chosen["automatic"]);
        EXPECT_FALSE(chosen["fft"].empty());
        EXPECT_FALSE(chosen["demod"].empty());
    }
}

} // namespace
