// The PE headers of the three shipped binaries, read from the files: each
// is built to be loaded at a random high address (high-entropy ASLR, with
// the relocation table that needs) and with data pages not executable (DEP).
#include "tests/support/StandinServer.h"
#include "tests/support/TempDir.h"

#include "framework/Text.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testing_support;

namespace {

// The headers of a 64-bit PE file; false with the reason when it is not one.
bool ReadHeaders(const std::string& file, IMAGE_FILE_HEADER& header, IMAGE_OPTIONAL_HEADER64& optional,
                 std::string& why) {
    IMAGE_DOS_HEADER dos{};
    if (file.size() < sizeof dos) return why = "too short", false;
    std::memcpy(&dos, file.data(), sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return why = "no MZ header", false;
    const size_t at = static_cast<size_t>(dos.e_lfanew);
    DWORD signature = 0;
    if (file.size() < at + sizeof signature + sizeof header + sizeof optional) return why = "headers cut short", false;
    std::memcpy(&signature, file.data() + at, sizeof signature);
    std::memcpy(&header, file.data() + at + sizeof signature, sizeof header);
    std::memcpy(&optional, file.data() + at + sizeof signature + sizeof header, sizeof optional);
    if (signature != IMAGE_NT_SIGNATURE) return why = "no PE signature", false;
    if (optional.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) return why = "not a 64-bit image", false;
    return true;
}

class BinaryTest : public ::testing::TestWithParam<const char*> {};

TEST_P(BinaryTest, LoadsAtARandomHighAddressWithoutExecutableData) {
    const std::wstring path = UnixPathForWindows(EnvironmentVariable("ZINPOST_BIN_DIR") + "/" + GetParam());
    const std::string file = ReadFileBytes(path);
    IMAGE_FILE_HEADER header{};
    IMAGE_OPTIONAL_HEADER64 optional{};
    std::string why;
    ASSERT_TRUE(ReadHeaders(file, header, optional, why)) << GetParam() << ": " << why;

    const WORD flags = optional.DllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) << "ASLR";
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) << "high-entropy ASLR";
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) << "DEP";
    // Moving the image needs its relocations: present, and not stripped.
    EXPECT_FALSE(header.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
    ASSERT_GT(optional.NumberOfRvaAndSizes, static_cast<DWORD>(IMAGE_DIRECTORY_ENTRY_BASERELOC));
    const IMAGE_DATA_DIRECTORY& relocations = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    EXPECT_NE(relocations.VirtualAddress, 0u);
    EXPECT_GT(relocations.Size, 0u);
    // High entropy means a base above 4 GiB, where a 32-bit pointer cannot reach.
    EXPECT_GT(optional.ImageBase, 0xFFFFFFFFull);
}

INSTANTIATE_TEST_SUITE_P(Shipped, BinaryTest, ::testing::Values("zinpost.exe", "zinpostresult.dll", "ZinExt.dll"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             name.erase(name.find('.'), 1);
                             return name;
                         });

}  // namespace
