// The library's boundary: record layouts as C sees them, and exactly the 24 exports and the
// sigkit_ calls.
#include "sigkit.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <set>
#include <sstream>
#include <string>

extern "C" size_t sigkit_c_size_of(int record);

namespace {

const std::set<std::string> kExports = {
    "am_demod_init", "am_demod_data",  "am_demod_free",  "fm_demod_init",  "fm_demod_data",
    "fm_demod_free", "lpflt_init",     "lpflt_data",     "lpflt_free",     "resampl_init",
    "resampl_data",  "resampl_free",   "iq2real_init",   "iq2real_data",   "iq2real_free",
    "invert_init",   "invert_data",    "invert_free",    "wav_read_init",  "wav_read_data",
    "wav_read_free", "wav_write_init", "wav_write_data", "wav_write_free",
};
// The sigkit_ calls beside them (sigkit_api.h).
const std::set<std::string> kSigkitCalls = {
    "sigkit_wav_write_no_replace",
    "sigkit_wav_write_abandon",
    "sigkit_wav_read_length",
};

std::set<std::string> DefinedDynamicSymbols()
{
    const sigtest::ProcessResult r =
        sigtest::RunProcess("/usr/bin/nm", {"-D", "--defined-only", SIGKIT_LIBRARY_PATH}, "");
    EXPECT_EQ(r.status, 0) << r.err;
    std::set<std::string> names;
    std::istringstream lines(r.out);
    std::string address, kind, name;
    while (lines >> address >> kind >> name)
        names.insert(name);
    return names;
}

} // namespace

TEST(Abi, RecordsHaveTheSameLayoutInC)
{
    EXPECT_EQ(sigkit_c_size_of(0), 1044u);
    EXPECT_EQ(sigkit_c_size_of(1), 3088u);
    EXPECT_EQ(sigkit_c_size_of(2), 3072u);
    EXPECT_EQ(sigkit_c_size_of(3), 2048u);
    EXPECT_EQ(sigkit_c_size_of(4), 2060u);
    EXPECT_EQ(sigkit_c_size_of(5), 1040u);
}

TEST(Abi, LibraryExportsItsCFunctionsAndNothingElse)
{
    std::set<std::string> expected = kExports;
    expected.insert(kSigkitCalls.begin(), kSigkitCalls.end());
    EXPECT_EQ(DefinedDynamicSymbols(), expected);
}

TEST(Abi, SharedFunctionsAreOneAddress)
{
    void* library = dlopen(SIGKIT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    void* data = dlsym(library, "resampl_data");
    ASSERT_NE(data, nullptr);
    for (const char* name : {"am_demod_data", "fm_demod_data", "lpflt_data"})
        EXPECT_EQ(dlsym(library, name), data) << name;
    EXPECT_EQ(dlsym(library, "am_demod_free"), dlsym(library, "fm_demod_free"));
    // These destroy different stages, each its own function.
    EXPECT_NE(dlsym(library, "lpflt_free"), dlsym(library, "resampl_free"));
    dlclose(library);
}
