// Damaged part files: every truncation and random bit flips must give an
// error or a consistent part file, never a read past the data or a crash.
#include "LPF/ByteOrder.hpp"
#include "LPF/PartFile.hpp"

#include "Support/Handles.hpp"
#include "Support/TempDir.hpp"

#include "KR/Memory.hpp"

#include <gtest/gtest.h>

#include <set>

#include <unistd.h>

namespace {

using TestSupport::Pattern;
using TestSupport::TempDir;
using TestSupport::WriteFileBytes;

constexpr std::uint32_t DataType = LPF::MakeSectionType('D', 'A', 'T', 'A');

// A part file with a small section inside the first read and a large one
// beyond it, or with a directory longer than the first read.
std::string ValidFile(std::uint32_t platform, bool longDirectory)
{
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.SetHeaderPlatform(platform);
    writer.SetDocumentName("Damaged Door");
    KR::UnID id{};
    id.mainGuid.data1 = 0x12345678;
    id.revGuid.data3 = 0x9ABC;
    writer.SetOwnUnID(id);
    const LPF::SectionDescriptor descriptor{1, LPF::NativePlatform, 0};
    if (longDirectory) {
        for (unsigned i = 0; i < 150; ++i) {
            const std::string data = Pattern(1 + i % 5, i);
            writer.AddSection(DataType, static_cast<std::uint8_t>(i), descriptor, data.data(), data.size());
        }
    } else {
        const std::string small = Pattern(200, 1);
        const std::string large = Pattern(5000, 2);
        writer.AddSection(DataType, 0, descriptor, small.data(), small.size());
        writer.AddSection(DataType, 1, descriptor, large.data(), large.size());
    }
    return writer.ToBytes();
}

// Reads everything a caller could ask for; checks that what is served is
// consistent with the directory.
void ExerciseOpened(LPF::PartFile& file, std::uint64_t fileSize)
{
    char name[32];
    KR::ErrorCode err = file.GetDocumentName(name);
    EXPECT_TRUE(err == KR::NoError || err == LPF::ErrNoName);
    EXPECT_LE(std::strlen(name), 31u);
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < file.GetSectionCount(); ++i) {
        LPF::SectionInfo info;
        ASSERT_EQ(file.GetSectionInfo(i, &info), KR::NoError);
        total += info.size;
        char** data = nullptr;
        err = file.GetSectionDataRef(info.type, info.subIdent, &data);
        if (err == KR::NoError)
            EXPECT_EQ(KR::bmManager.GetHandleSize(data), info.size);
        else
            EXPECT_EQ(err, LPF::ErrNoHandler);  // a flipped platform word with no handler
    }
    EXPECT_LE(total, fileSize);
}

class Truncation : public ::testing::TestWithParam<std::tuple<std::uint32_t, bool>> {};

TEST_P(Truncation, EveryShorterFileIsRefused)
{
    const auto [platform, longDirectory] = GetParam();
    TempDir folder;
    const std::string path = folder / "cut.lpf";
    const std::string bytes = ValidFile(platform, longDirectory);
    WriteFileBytes(path, bytes);
    {
        // The whole file opens, with every section of a directory longer
        // than the first read.
        LPF::SymbolFile whole{IO::Location(path)};
        ExerciseOpened(whole, bytes.size());
        ASSERT_EQ(whole.GetSectionCount(), longDirectory ? 150u : 2u);
        char** last = nullptr;
        ASSERT_EQ(whole.GetSectionDataRef(DataType, longDirectory ? 149 : 1, &last), KR::NoError);
        EXPECT_EQ(TestSupport::HandleBytes(last), longDirectory ? Pattern(1 + 149 % 5, 149) : Pattern(5000, 2));
    }
    const std::set<KR::ErrorCode> expected = {LPF::ErrNotPartFile, LPF::ErrDamaged};
    for (std::size_t length = bytes.size(); length-- > 0;) {
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(length)), 0);
        KR::ErrorCode err = KR::NoError;
        std::unique_ptr<LPF::PartFile> file = LPF::OpenPartFile(IO::Location(path), &err);
        ASSERT_EQ(file, nullptr) << "a file cut to " << length << " bytes was accepted";
        ASSERT_TRUE(expected.count(err) != 0) << "length " << length << " gave " << std::hex << err;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Truncation,
                         ::testing::Combine(::testing::Values(LPF::NativePlatform, LPF::OtherPlatform),
                                            ::testing::Bool()));

TEST(PartFileDamage, RandomBitFlipsNeverCrash)
{
    TempDir folder;
    std::uint64_t state = 0x5EED;
    auto next = [&state] {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    };
    int opened = 0;
    int refused = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string bytes = ValidFile(round % 2 == 0 ? LPF::NativePlatform : LPF::OtherPlatform, round % 3 == 0);
        const int flips = 1 + static_cast<int>(next() % 4);
        for (int f = 0; f < flips; ++f) {
            // Most flips hit the header and the directory, where they matter.
            const std::size_t span = next() % 4 == 0 ? bytes.size() : std::min<std::size_t>(bytes.size(), 400);
            const std::size_t at = next() % span;
            bytes[at] = static_cast<char>(bytes[at] ^ (1 << (next() % 8)));
        }
        // A new file each round: rewriting one file in place makes some file
        // systems flush it to disk every time.
        const std::string path = folder / ("flipped-" + std::to_string(round) + ".lpf");
        WriteFileBytes(path, bytes);
        KR::ErrorCode err = KR::NoError;
        std::unique_ptr<LPF::PartFile> file = LPF::OpenPartFile(IO::Location(path), &err);
        if (file == nullptr) {
            ++refused;
            EXPECT_NE(err, KR::NoError);
        } else {
            ++opened;
            ExerciseOpened(*file, bytes.size());
        }
        ::unlink(path.c_str());
    }
    // Both outcomes occur, so both paths were exercised.
    EXPECT_GT(opened, 100);
    EXPECT_GT(refused, 100);
}

}  // namespace
