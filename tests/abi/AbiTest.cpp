// The library's boundary: record layouts as C sees them, and exactly the 24 original exports
// plus the functions that sigkit_api.h declares.
#include "sigkit.h"
#include "sigkit_api.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
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
// Beside them in the same header, on the same handles: a block's first part on a second thread.
const char* const kBlockPrepare = "sigkit_block_prepare";
// The functions that the versioned header declares.
std::set<std::string> ApiHeaderFunctions()
{
    const std::string header = sigtest::ReadFileBytes(SIGKIT_API_HEADER);
    // Each declaration: SIGKIT_PUBLIC, the result type, the name right before its "(".
    std::set<std::string> names;
    for (std::size_t at = header.find("SIGKIT_PUBLIC "); at != std::string::npos;
         at = header.find("SIGKIT_PUBLIC ", at + 1))
    {
        const std::size_t open = header.find('(', at);
        if (open == std::string::npos || header.find(';', at) < open)
            continue;
        std::size_t begin = open;
        while (begin > at && (std::isalnum(static_cast<unsigned char>(header[begin - 1])) ||
                              header[begin - 1] == '_'))
            --begin;
        if (header.compare(begin, 7, "sigkit_") == 0)
            names.insert(header.substr(begin, open - begin));
    }
    return names;
}

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
    const std::set<std::string> api = ApiHeaderFunctions();
    // The header is read right: the main functions of each part are among its names.
    for (const char* name :
         {"sigkit_version", "sigkit_strerror", "sigkit_config_init", "sigkit_create",
          "sigkit_process", "sigkit_flush", "sigkit_destroy", "sigkit_wav_open", "sigkit_wav_read",
          "sigkit_wav_create", "sigkit_wav_write", "sigkit_wav_close", "sigkit_wav_abandon",
          "sigkit_wav_write_no_replace", "sigkit_wav_write_finish", "sigkit_wav_write_abandon",
          "sigkit_wav_read_length"})
        EXPECT_EQ(api.count(name), 1u) << name;
    std::set<std::string> expected = kExports;
    expected.insert(kBlockPrepare);
    expected.insert(api.begin(), api.end());
    EXPECT_EQ(DefinedDynamicSymbols(), expected);
}

TEST(Abi, ApiRecordsHaveTheSameLayoutInC)
{
    EXPECT_EQ(sigkit_c_size_of(6), sizeof(sigkit_config));
    EXPECT_EQ(sigkit_c_size_of(7), sizeof(sigkit_wav_info));
    EXPECT_EQ(sigkit_c_size_of(8), sizeof(sigkit_wav_format));
    EXPECT_EQ(sigkit_c_size_of(9), offsetof(sigkit_config, average));
    EXPECT_EQ(sigkit_c_size_of(10), offsetof(sigkit_wav_info, start_time));
    EXPECT_EQ(sizeof(sigkit_config), SIGKIT_CONFIG_SIZE_V1);
    EXPECT_EQ(sizeof(sigkit_wav_info), SIGKIT_WAV_INFO_SIZE_V1);
    EXPECT_EQ(sizeof(sigkit_wav_format), SIGKIT_WAV_FORMAT_SIZE_V1);
}

TEST(Abi, SonameCarriesTheMajorVersion)
{
    const sigtest::ProcessResult r =
        sigtest::RunProcess("/usr/bin/objdump", {"-p", SIGKIT_LIBRARY_PATH}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("SONAME               libsigkit.so." +
                         std::to_string(SIGKIT_VERSION_MAJOR) + "\n"),
              std::string::npos)
        << r.out;
    // Nothing but the C and C++ runtimes is needed.
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line))
    {
        if (line.find("NEEDED") != std::string::npos)
        {
            bool runtime = false;
            for (const char* name : {"libc.so", "libm.so", "libstdc++.so", "libgcc_s.so",
#ifdef SIGKIT_SANITIZED
                                     // A sanitized build also needs the sanitizers' runtimes.
                                     "libasan.so", "libubsan.so",
#endif
                                     "libc.so"})
                runtime = runtime || line.find(name) != std::string::npos;
            EXPECT_TRUE(runtime) << line;
        }
    }
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
