#include "LPF/ByteOrder.hpp"
#include "LPF/PartFile.hpp"

#include "Support/FaultPlatform.hpp"
#include "Support/Handles.hpp"
#include "Support/TempDir.hpp"

#include "IO/Errors.hpp"

#include <gtest/gtest.h>



namespace {

using TestSupport::NewHandleWith;
using TestSupport::ReadFileBytes;
using TestSupport::SetUnixTime;
using TestSupport::UnixTimeOf;
using TestSupport::Pattern;
using TestSupport::TempDir;
using TestSupport::WriteFileBytes;

constexpr std::uint32_t WordsType = LPF::MakeSectionType('T', 'S', 'T', '1');  // has a test handler
constexpr std::uint32_t PlainType = LPF::MakeSectionType('T', 'S', 'T', '2');  // has no handler

// Sections of 32-bit words, converted by reversing each word.
class WordsHandler : public LPF::ISectionHandler {
public:
    KR::ErrorCode ConvertToPlatform(LPF::SectionDescriptor* descriptor, char** section, std::uint32_t target) override
    {
        const std::size_t size = KR::bmManager.GetHandleSize(section);
        for (std::size_t i = 0; i + 4 <= size; i += 4)
            LPF::ReverseBytes(reinterpret_cast<unsigned char*>(*section) + i, 4);
        descriptor->platform = target;
        return KR::NoError;
    }
    KR::ErrorCode ConvertToNative(void*, LPF::SectionDescriptor* descriptor, char** section) override
    {
        return ConvertToPlatform(descriptor, section, LPF::NativePlatform);
    }
    KR::ErrorCode Validate(const LPF::SectionDescriptor*, char**) override { return KR::NoError; }
    KR::ErrorCode Dump(KR::OChannel&, const LPF::SectionDescriptor*, char**, bool) override { return KR::NoError; }
    bool CanConvert() const override { return true; }
};

WordsHandler& Handler()
{
    static WordsHandler handler;
    static const bool installed = LPF::InstallSectionHandler(WordsType, &handler) == KR::NoError;
    EXPECT_TRUE(installed);
    return handler;
}

std::string Words(std::initializer_list<std::uint32_t> words, LPF::ByteOrder order)
{
    std::string out;
    for (std::uint32_t w : words)
        LPF::Append32(out, w, order);
    return out;
}

std::string SectionBytes(LPF::PartFile& file, std::uint32_t type, std::uint8_t sub = 0)
{
    char** data = nullptr;
    EXPECT_EQ(file.GetSectionDataRef(type, sub, &data), KR::NoError);
    return TestSupport::HandleBytes(data);
}

LPF::SectionInfo InfoAt(LPF::PartFile& file, std::uint32_t index)
{
    LPF::SectionInfo info;
    EXPECT_EQ(file.GetSectionInfo(index, &info), KR::NoError) << index;
    return info;
}

LPF::SectionDescriptor DescriptorOf(LPF::PartFile& file, std::uint32_t type, std::uint8_t sub = 0)
{
    LPF::SectionDescriptor descriptor;
    EXPECT_EQ(file.GetSectionDescriptor(type, sub, &descriptor), KR::NoError);
    return descriptor;
}

KR::ErrorCode OpenError(const std::string& path)
{
    KR::ErrorCode err = KR::NoError;
    std::unique_ptr<LPF::PartFile> file = LPF::OpenPartFile(IO::Location(path), &err);
    EXPECT_EQ(file == nullptr, err != KR::NoError);
    return err;
}

class PartFileTest : public ::testing::Test {
protected:
    void SetUp() override { Handler(); }
    std::string Write(const LPF::PartFileWriter& writer, const std::string& name)
    {
        const std::string path = folder_ / name;
        EXPECT_EQ(writer.WriteTo(IO::Location(path)), KR::NoError);
        return path;
    }
    TempDir folder_;
};

// --- Writing and reading back ------------------------------------------------

class RoundTrip : public PartFileTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(RoundTrip, HeaderAndSectionsComeBackInEitherByteOrder)
{
    const std::uint32_t platform = GetParam();
    const LPF::ByteOrder order = platform == LPF::NativePlatform ? LPF::ByteOrder::Little : LPF::ByteOrder::Big;
    KR::UnID id{};
    id.mainGuid = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
    id.revGuid = {0x99AABBCC, 0xDDEE, 0xFF00, {9, 10, 11, 12, 13, 14, 15, 16}};
    const std::string big = Pattern(5000, 3);
    const std::string words = Words({1, 2, 0x01020304}, order);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.SetOwnUnID(id);
    writer.SetPlaceable(true);
    ASSERT_EQ(writer.SetDocumentName("Window Double"), KR::NoError);
    ASSERT_EQ(writer.SetHeaderPlatform(platform), KR::NoError);
    ASSERT_EQ(writer.AddSection(PlainType, 3, {9, LPF::NativePlatform, 0}, big.data(), big.size()), KR::NoError);
    ASSERT_EQ(writer.AddSection(WordsType, 0, {2, platform, 5}, "first", 5), KR::NoError);
    ASSERT_EQ(writer.AddSection(WordsType, 0, {2, platform, 5}, words.data(), words.size()), KR::NoError);  // replaces
    const std::string path = Write(writer, "part.lpf");

    LPF::SymbolFile file{IO::Location(path)};
    EXPECT_EQ(file.GetHeaderPlatform(), platform);
    KR::UnID read;
    bool placeable = false, archivable = true;
    ASSERT_EQ(file.GetOwnUnID(&read), KR::NoError);
    EXPECT_EQ(read, id);
    file.IsPlaceable(&placeable);
    file.IsArchivable(&archivable);
    EXPECT_TRUE(placeable && !archivable);
    EXPECT_EQ(file.GetFullDocumentName(), "Window Double");

    ASSERT_EQ(file.GetSectionCount(), 2u);
    EXPECT_EQ(InfoAt(file, 1).size, 12u);  // the second section of one type replaced the first
    EXPECT_EQ(SectionBytes(file, PlainType, 3), big);
    EXPECT_EQ(SectionBytes(file, WordsType), Words({1, 2, 0x01020304}, LPF::ByteOrder::Little));
    EXPECT_EQ(DescriptorOf(file, WordsType).platform, LPF::NativePlatform);  // as it is now, converted
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, RoundTrip, ::testing::Values(LPF::NativePlatform, LPF::OtherPlatform));

TEST_F(PartFileTest, HeaderBytesFollowTheDocumentedLayoutAndTellTheKind)
{
    LPF::PartFileWriter writer(LPF::PartKind::Script);
    writer.SetDocumentName("abc");
    writer.SetHeaderPlatform(LPF::OtherPlatform);
    const std::string bytes = writer.ToBytes();
    ASSERT_EQ(bytes.size(), 60u);  // 56-byte header, name, padding to 4
    EXPECT_EQ(bytes.substr(0, 12), std::string("\x89LPF\0\0MM\x01\x00\x00\x02", 12));  // version 1.0, kind 2
    EXPECT_EQ(bytes.substr(48, 2), std::string("\0\x03", 2));
    EXPECT_EQ(bytes.substr(56, 3), "abc");

    EXPECT_EQ(LPF::OpenPartFile(IO::Location(Write(writer, "s.lps")))->GetKind(), LPF::PartKind::Script);
}

// The short name is cut at 31 bytes, never inside a character.
TEST_F(PartFileTest, ShortDocumentNamesAreCutBetweenCharacters)
{
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    ASSERT_EQ(writer.SetDocumentName(std::string(30, 'a') + "\xC3\xA9" + "b"), KR::NoError);
    LPF::SymbolFile file{IO::Location(Write(writer, "named.lpf"))};
    char name[32] = "junk";
    EXPECT_EQ(file.GetDocumentName(name), KR::NoError);
    EXPECT_EQ(std::string(name), std::string(30, 'a'));
}

// --- Reading on demand ---------------------------------------------------------

// A small section comes with the first read, a large one is read on first
// use; a file that changed in between is noticed by its size or its time.
TEST_F(PartFileTest, LargeSectionsAreReadOnFirstUseFromAnUnchangedFile)
{
    const std::string small = Pattern(100, 1);
    const std::string large = Pattern(3000, 2);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.AddSection(PlainType, 0, {}, small.data(), small.size());
    writer.AddSection(PlainType, 1, {}, large.data(), large.size());
    const std::string path = Write(writer, "lazy.lpf");
    const std::int64_t written = UnixTimeOf(path);
    {
        LPF::SymbolFile file{IO::Location(path)};
        std::string bytes = ReadFileBytes(path);
        bytes.replace(bytes.find(small), small.size(), Pattern(100, 9));
        bytes.replace(bytes.find(large), large.size(), Pattern(3000, 8));
        WriteFileBytes(path, bytes);
        SetUnixTime(path, written);
        EXPECT_EQ(SectionBytes(file, PlainType, 0), small);            // kept from the first read
        EXPECT_EQ(SectionBytes(file, PlainType, 1), Pattern(3000, 8));  // read now
    }
    LPF::SymbolFile grown{IO::Location(path)};
    WriteFileBytes(path, ReadFileBytes(path) + "more");
    char** data = reinterpret_cast<char**>(1);
    EXPECT_EQ(grown.GetSectionDataRef(PlainType, 1, &data), LPF::ErrChanged);
    EXPECT_EQ(data, nullptr);
    Write(writer, "lazy.lpf");
    LPF::SymbolFile touched{IO::Location(path)};
    SetUnixTime(path, UnixTimeOf(path) - 100);
    EXPECT_EQ(touched.GetSectionDataRef(PlainType, 1, &data), LPF::ErrChanged);
}

// Conversion and validation of foreign sections when they are read are
// reached by the module's tests of ancestry and parameter sections in
// either byte order; conversion when saving is tested below.

// --- Replacing sections in memory and saving -----------------------------------

// Sections are replaced, added and released in memory; a save writes the
// present sections through a scratch file, converted where a handler
// could, kept as stored where none could.
TEST_F(PartFileTest, SectionsSetInMemoryAreSavedThroughAScratchFile)
{
    const std::string keep = Pattern(5000, 1);
    const std::string foreign = Pattern(30, 2);
    const std::string words = Words({5, 6}, LPF::ByteOrder::Big);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.SetHeaderPlatform(LPF::OtherPlatform);
    writer.AddSection(PlainType, 0, {}, keep.data(), keep.size());
    writer.AddSection(PlainType, 1, {1, LPF::OtherPlatform, 0}, foreign.data(), foreign.size());
    writer.AddSection(WordsType, 0, {1, LPF::OtherPlatform, 0}, words.data(), words.size());
    writer.AddSection(PlainType, 2, {}, "gone", 4);
    const std::string path = Write(writer, "save.lpf");
    LPF::SymbolFile file{IO::Location(path)};
    const std::size_t handles = KR::bmManager.GetLiveHandleCount();

    char** replacement = NewHandleWith("xyz");
    ASSERT_EQ(file.SetSectionDataRef(PlainType, 0, replacement), KR::NoError);
    char** data = nullptr;
    ASSERT_EQ(file.GetSectionDataRef(PlainType, 0, &data), KR::NoError);
    EXPECT_EQ(data, replacement);
    EXPECT_EQ(InfoAt(file, 0).size, 3u);
    // Releasing it frees it; the stored data are read again on next use.
    ASSERT_EQ(file.SetSectionDataRef(PlainType, 0, nullptr), KR::NoError);
    EXPECT_EQ(KR::bmManager.GetLiveHandleCount(), handles);
    EXPECT_EQ(SectionBytes(file, PlainType, 0), keep);
    // A section added in memory only is removed when released.
    ASSERT_EQ(file.SetSectionDataRef(PlainType, 9, KR::bmManager.NewHandle(8, true)), KR::NoError);
    ASSERT_EQ(file.SetSectionDataRef(PlainType, 9, nullptr), KR::NoError);
    EXPECT_FALSE(file.HasSection(PlainType, 9));
    char* master = nullptr;
    EXPECT_EQ(file.SetSectionDataRef(PlainType, 0, &master), KR::ErrBadHandle);

    ASSERT_EQ(file.SetSectionDataRef(PlainType, 2, NewHandleWith("fresh")), KR::NoError);
    ASSERT_EQ(file.Save(), KR::NoError);
    EXPECT_EQ(SectionBytes(file, PlainType, 0), keep);  // the object goes on with the new file
    LPF::SymbolFile reread{IO::Location(path)};
    EXPECT_EQ(reread.GetHeaderPlatform(), LPF::NativePlatform);
    EXPECT_EQ(SectionBytes(reread, PlainType, 2), "fresh");
    EXPECT_EQ(SectionBytes(reread, WordsType), Words({5, 6}, LPF::ByteOrder::Little));
    EXPECT_EQ(DescriptorOf(reread, PlainType, 1).platform, LPF::OtherPlatform);
    EXPECT_NE(ReadFileBytes(path).find(foreign), std::string::npos);
}

// A save that fails at any system call (reading the sections it still
// needs, writing, flushing, renaming) leaves the old file whole, reports the
// failure and leaks no descriptor.
TEST_F(PartFileTest, EveryFailingCallOfASaveLeavesTheOldFileWhole)
{
    const std::string big = Pattern(20000, 3);  // read only when saved
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.AddSection(PlainType, 0, {}, big.data(), big.size());
    writer.AddSection(PlainType, 1, {}, "small", 5);
    const std::string path = Write(writer, "save.lpf");
    const std::string oldBytes = ReadFileBytes(path);
    const std::size_t descriptors = TestSupport::OpenDescriptorCount();
    TestSupport::FaultPlatform faults;
    // Opens the file without faults, changes a section and saves it with the
    // n-th call of the save failing (none for 0).
    const auto save = [&](std::uint64_t n) {
        LPF::SymbolFile file{IO::Location(path)};
        EXPECT_EQ(file.SetSectionDataRef(PlainType, 1, NewHandleWith("changed")), KR::NoError);
        faults.Clear();  // only the save's calls are counted
        if (n > 0)
            faults.FailNth(TestSupport::Call::Any, n, EIO);
        const KR::ErrorCode err = file.Save();
        EXPECT_EQ(faults.Injected(), n > 0 ? 1u : 0u) << "call " << n;
        return err;
    };
    ASSERT_EQ(save(0), KR::NoError);
    const std::uint64_t calls = faults.Calls();
    const std::string newBytes = ReadFileBytes(path);
    ASSERT_NE(newBytes, oldBytes);
    int failures = 0;
    for (std::uint64_t n = 1; n <= calls; ++n) {
        WriteFileBytes(path, oldBytes);
        const KR::ErrorCode err = save(n);
        EXPECT_EQ(TestSupport::OpenDescriptorCount(), descriptors) << "call " << n;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.Path()), {}), 1) << "call " << n;
        EXPECT_EQ(ReadFileBytes(path), err == KR::NoError ? newBytes : oldBytes) << "call " << n;
        failures += err != KR::NoError;
    }
    // Eight calls may fail without harm: closing the descriptor the large
    // section was read through, the scratch file's permissions and first
    // close, closing after the flush, the flush of the folder after the
    // rename (open, fsync, close) and the look at the new file's time.
    EXPECT_GE(calls, 20u);
    EXPECT_GE(failures, static_cast<int>(calls) - 8) << "of " << calls;
}

// --- Refused files -----------------------------------------------------------

// One file for each error the reader gives; the fuzz replay covers damaged
// files at large.
TEST_F(PartFileTest, FilesThatAreNoPartFilesOrAreDamagedAreRefused)
{
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.AddSection(PlainType, 0, {}, "aaaaaaaa", 8);
    const std::string valid = writer.ToBytes();
    const auto patched = [&](std::size_t at, const std::string& value) {
        return std::string(valid).replace(at, value.size(), value);
    };
    const struct {
        const char* what;
        std::string bytes;
        KR::ErrorCode error;
    } cases[] = {
        {"empty", "", LPF::ErrNotPartFile},
        {"cut before the byte order", valid.substr(0, 6), LPF::ErrDamaged},
        {"major version 2", patched(9, "\x02"), LPF::ErrUnsupportedVersion},
        {"absurd section count", patched(52, "\xFF\xFF\xFF\xFF"), LPF::ErrDamaged},
        {"valid", valid, KR::NoError},
    };
    for (const auto& c : cases) {
        WriteFileBytes(folder_ / "bad.lpf", c.bytes);
        EXPECT_EQ(OpenError(folder_ / "bad.lpf"), c.error) << c.what;
    }
    EXPECT_EQ(OpenError(folder_ / "missing.lpf"), IO::ErrNotFound);
}

}  // namespace
