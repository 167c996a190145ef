#include "LPF/ByteOrder.hpp"
#include "LPF/PartFile.hpp"

#include "Foundation/LPF/TempFolder.hpp"

#include "IO/FileSystem.hpp"
#include "IO/FixedVFS.hpp"
#include "KR/Channel.hpp"
#include "KR/Memory.hpp"
#include "KR/Time.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include <sys/stat.h>
#include <utime.h>

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempFolder;
using testing_support::WriteFileBytes;

constexpr std::uint32_t WordsType = LPF::MakeSectionType('T', 'S', 'T', '1');  // has a test handler
constexpr std::uint32_t PlainType = LPF::MakeSectionType('T', 'S', 'T', '2');  // has no handler
constexpr std::uint32_t RejectedWord = 0xDEADBEEF;

KR::UnID MakeUnID(std::uint32_t n)
{
    KR::UnID id;
    id.mainGuid.data1 = 0x11000000u + n;
    id.mainGuid.data2 = 0x2233;
    id.mainGuid.data3 = 0x4455;
    for (int i = 0; i < 8; ++i)
        id.mainGuid.data4[i] = static_cast<std::uint8_t>(0x60 + i);
    id.revGuid = id.mainGuid;
    id.revGuid.data1 = 0x99000000u + n;
    return id;
}

// Sections of 32-bit words. Converts by reversing each word; refuses a size
// that is not a multiple of 4; a section starting with RejectedWord does not
// validate.
class WordsHandler : public LPF::ISectionHandler {
public:
    int conversions = 0;
    int validations = 0;

    KR::ErrorCode ConvertToPlatform(LPF::SectionDescriptor* descriptor, char** section,
                                    std::uint32_t target) override
    {
        ++conversions;
        if (descriptor->platform == target)
            return KR::NoError;
        const std::size_t size = KR::bmManager.GetHandleSize(section);
        if (size % 4 != 0)
            return KR::ErrBadFormat;
        for (std::size_t i = 0; i < size; i += 4)
            LPF::ReverseBytes(reinterpret_cast<unsigned char*>(*section) + i, 4);
        descriptor->platform = target;
        return KR::NoError;
    }
    KR::ErrorCode ConvertToNative(void*, LPF::SectionDescriptor* descriptor, char** section) override
    {
        return ConvertToPlatform(descriptor, section, LPF::NativePlatform);
    }
    KR::ErrorCode Validate(const LPF::SectionDescriptor*, char** section) override
    {
        ++validations;
        const std::size_t size = KR::bmManager.GetHandleSize(section);
        std::uint32_t first = 0;
        if (size >= 4)
            std::memcpy(&first, *section, 4);
        return first == RejectedWord ? KR::ErrBadFormat : KR::NoError;
    }
    KR::ErrorCode Dump(KR::OChannel& output, const LPF::SectionDescriptor*, char** section, bool) override
    {
        output << "words: " << static_cast<std::uint32_t>(KR::bmManager.GetHandleSize(section) / 4) << "\n";
        return KR::NoError;
    }
    bool CanConvert() const override { return true; }
};

WordsHandler& Handler()
{
    static WordsHandler handler;
    static bool installed = (LPF::InstallSectionHandler(WordsType, &handler), true);
    (void)installed;
    return handler;
}

std::string Words(std::initializer_list<std::uint32_t> words, LPF::ByteOrder order)
{
    std::string out;
    for (std::uint32_t w : words)
        LPF::Append32(out, w, order);
    return out;
}

std::string Pattern(std::size_t size, unsigned seed)
{
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 131 + seed * 7) & 0xFF);
    return out;
}

std::string SectionBytes(LPF::PartFile& file, std::uint32_t type, std::uint8_t sub = 0)
{
    char** data = nullptr;
    KR::ErrorCode err = file.GetSectionDataRef(type, sub, &data);
    EXPECT_EQ(err, KR::NoError);
    if (data == nullptr)
        return {};
    return std::string(*data, KR::bmManager.GetHandleSize(data));
}

KR::ErrorCode OpenError(const std::string& path)
{
    KR::ErrorCode err = KR::NoError;
    std::unique_ptr<LPF::PartFile> file = LPF::OpenPartFile(IO::Location(path), &err);
    EXPECT_EQ(file == nullptr, err != KR::NoError);
    return err;
}

// Sets a file's modification time, so that a change of content at the same
// size is indistinguishable by size and time.
void SetModificationTime(const std::string& path, time_t seconds)
{
    utimbuf times{seconds, seconds};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

time_t ModificationTime(const std::string& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtime;
}

class PartFileTest : public ::testing::Test {
protected:
    void SetUp() override { Handler(); }
    TempFolder folder_;
};

// --- Writing and reading back --------------------------------------------

class RoundTrip : public PartFileTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(RoundTrip, HeaderAndSectionsComeBackInEitherByteOrder)
{
    const std::uint32_t platform = GetParam();
    const LPF::ByteOrder order = platform == LPF::NativePlatform ? LPF::ByteOrder::Little : LPF::ByteOrder::Big;
    const std::string big = Pattern(5000, 3);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.SetOwnUnID(MakeUnID(7));
    writer.SetPlaceable(true);
    writer.SetArchivable(false);
    ASSERT_EQ(writer.SetDocumentName("Window Double"), KR::NoError);
    ASSERT_EQ(writer.SetHeaderPlatform(platform), KR::NoError);
    ASSERT_EQ(writer.AddSection(PlainType, 3, {9, LPF::NativePlatform, 0}, big.data(), big.size()), KR::NoError);
    const std::string words = Words({1, 2, 0x01020304}, order);
    ASSERT_EQ(writer.AddSection(WordsType, 0, {2, platform, 5}, words.data(), words.size()), KR::NoError);
    const std::string path = folder_ / "part.lpf";
    ASSERT_EQ(writer.WriteTo(IO::Location(path)), KR::NoError);

    LPF::SymbolFile file{IO::Location(path)};
    EXPECT_EQ(file.GetKind(), LPF::PartKind::Symbol);
    EXPECT_EQ(file.GetHeaderPlatform(), platform);
    EXPECT_EQ(file.GetFormatVersion(), LPF::CurrentFormatVersion);
    KR::UnID id;
    ASSERT_EQ(file.GetOwnUnID(&id), KR::NoError);
    EXPECT_EQ(id, MakeUnID(7));
    bool placeable = false, archivable = true;
    file.IsPlaceable(&placeable);
    file.IsArchivable(&archivable);
    EXPECT_TRUE(placeable);
    EXPECT_FALSE(archivable);
    char name[32];
    ASSERT_EQ(file.GetDocumentName(name), KR::NoError);
    EXPECT_STREQ(name, "Window Double");
    std::int32_t time = 0;
    ASSERT_EQ(file.GetModificationTime(&time), KR::NoError);
    EXPECT_EQ(KR::DateTimeManager::ToUnixTime(time), ModificationTime(path));

    ASSERT_EQ(file.GetSectionCount(), 2u);
    LPF::SectionInfo info;
    ASSERT_EQ(file.GetSectionInfo(1, &info), KR::NoError);
    EXPECT_EQ(info.type, WordsType);
    EXPECT_EQ(info.descriptor.version, 2u);
    EXPECT_EQ(info.descriptor.platform, platform);
    EXPECT_EQ(info.descriptor.flags, 5u);
    EXPECT_EQ(info.size, 12u);
    EXPECT_EQ(file.GetSectionInfo(2, &info), KR::ErrIllegalArgument);
    EXPECT_TRUE(file.HasSection(PlainType, 3));
    EXPECT_FALSE(file.HasSection(PlainType, 0));

    EXPECT_EQ(SectionBytes(file, PlainType, 3), big);
    EXPECT_EQ(SectionBytes(file, WordsType), Words({1, 2, 0x01020304}, LPF::ByteOrder::Little));
    LPF::SectionDescriptor descriptor;
    ASSERT_EQ(file.GetSectionDescriptor(WordsType, 0, &descriptor), KR::NoError);
    EXPECT_EQ(descriptor.platform, LPF::NativePlatform);
    EXPECT_EQ(descriptor.version, 2u);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, RoundTrip, ::testing::Values(LPF::NativePlatform, LPF::OtherPlatform));

TEST_F(PartFileTest, HeaderBytesFollowTheDocumentedLayout)
{
    LPF::PartFileWriter writer(LPF::PartKind::Script);
    writer.SetDocumentName("abc");
    writer.SetHeaderPlatform(LPF::OtherPlatform);
    const std::string bytes = writer.ToBytes();
    ASSERT_EQ(bytes.size(), 60u);  // 56-byte header, name, padding to 4; no section
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x89LPF"));
    EXPECT_EQ(bytes.substr(4, 4), std::string("\0\0MM", 4));  // 0x4D4D big-endian
    EXPECT_EQ(bytes.substr(8, 4), std::string("\x01\x00\x00\x02", 4));  // version 1.0, kind 2
    EXPECT_EQ(bytes.substr(48, 2), std::string("\0\x03", 2));
    EXPECT_EQ(bytes.substr(56, 3), "abc");

    LPF::PartFileWriter little(LPF::PartKind::Symbol);
    const std::string l = little.ToBytes();
    EXPECT_EQ(l.substr(4, 4), std::string("WW\0\0", 4));
    EXPECT_EQ(l.substr(8, 4), std::string("\x00\x01\x01\x00", 4));
}

TEST_F(PartFileTest, OpenPartFileChoosesTheKindAndConstructorsRefuseTheOther)
{
    LPF::PartFileWriter script(LPF::PartKind::Script);
    script.SetDocumentName("Macro");
    ASSERT_EQ(script.WriteTo(IO::Location(folder_ / "s.lps")), KR::NoError);
    LPF::PartFileWriter symbol(LPF::PartKind::Symbol);
    ASSERT_EQ(symbol.WriteTo(IO::Location(folder_ / "p.lpf")), KR::NoError);

    try {
        LPF::SymbolFile wrong{IO::Location(folder_ / "s.lps")};
        FAIL() << "a script file opened as a symbol file";
    } catch (const LPF::PartFileException& e) {
        EXPECT_EQ(e.GetID(), LPF::ErrWrongKind);
    }
    try {
        LPF::ScriptFile wrong{IO::Location(folder_ / "p.lpf")};
        FAIL() << "a symbol file opened as a script file";
    } catch (const LPF::PartFileException& e) {
        EXPECT_EQ(e.GetID(), LPF::ErrWrongKind);
    }
    auto s = LPF::OpenPartFile(IO::Location(folder_ / "s.lps"));
    ASSERT_NE(dynamic_cast<LPF::ScriptFile*>(s.get()), nullptr);
    auto p = LPF::OpenPartFile(IO::Location(folder_ / "p.lpf"));
    ASSERT_NE(dynamic_cast<LPF::SymbolFile*>(p.get()), nullptr);
}

TEST_F(PartFileTest, DocumentNames)
{
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    EXPECT_EQ(writer.SetDocumentName(std::string(256, 'x')), LPF::ErrNameTooLong);
    ASSERT_EQ(writer.SetDocumentName(std::string(255, 'x')), KR::NoError);
    ASSERT_EQ(writer.WriteTo(IO::Location(folder_ / "long.lpf")), KR::NoError);
    LPF::SymbolFile longName{IO::Location(folder_ / "long.lpf")};
    EXPECT_EQ(longName.GetFullDocumentName(), std::string(255, 'x'));
    char name[32];
    ASSERT_EQ(longName.GetDocumentName(name), KR::NoError);
    EXPECT_EQ(std::string(name), std::string(31, 'x'));

    // A two-byte character across the 31-byte limit is left out whole.
    ASSERT_EQ(writer.SetDocumentName(std::string(30, 'a') + "\xC3\xA9" + "b"), KR::NoError);
    ASSERT_EQ(writer.WriteTo(IO::Location(folder_ / "utf8.lpf")), KR::NoError);
    LPF::SymbolFile utf8{IO::Location(folder_ / "utf8.lpf")};
    ASSERT_EQ(utf8.GetDocumentName(name), KR::NoError);
    EXPECT_EQ(std::string(name), std::string(30, 'a'));

    ASSERT_EQ(writer.SetDocumentName(""), KR::NoError);
    ASSERT_EQ(writer.WriteTo(IO::Location(folder_ / "none.lpf")), KR::NoError);
    LPF::SymbolFile unnamed{IO::Location(folder_ / "none.lpf")};
    std::strcpy(name, "junk");
    EXPECT_EQ(unnamed.GetDocumentName(name), LPF::ErrNoName);
    EXPECT_STREQ(name, "");
}

TEST_F(PartFileTest, DirectoryLongerThanTheFirstReadIsReadWhole)
{
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.SetDocumentName(std::string(200, 'n'));
    for (std::uint32_t i = 0; i < 300; ++i) {
        const std::string data = Pattern(i % 7, i);
        writer.AddSection(PlainType, static_cast<std::uint8_t>(i % 256), {i, LPF::NativePlatform, 0}, data.data(),
                          data.size());
        if (i >= 255)
            writer.AddSection(LPF::MakeSectionType('M', 'A', 'N', 'Y'), static_cast<std::uint8_t>(i - 255),
                              {i, LPF::NativePlatform, 0}, data.data(), data.size());
    }
    ASSERT_EQ(writer.WriteTo(IO::Location(folder_ / "many.lpf")), KR::NoError);
    LPF::SymbolFile file{IO::Location(folder_ / "many.lpf")};
    ASSERT_EQ(file.GetSectionCount(), 256u + 45u);
    EXPECT_EQ(SectionBytes(file, PlainType, 255), Pattern(255 % 7, 255));
    EXPECT_EQ(SectionBytes(file, PlainType, 43), Pattern(299 % 7, 299));  // replaced by the later add
    EXPECT_EQ(SectionBytes(file, LPF::MakeSectionType('M', 'A', 'N', 'Y'), 44), Pattern(299 % 7, 299));
}

// --- Reading on demand ----------------------------------------------------

TEST_F(PartFileTest, LargeSectionIsReadOnFirstUseSmallOneComesWithTheFirstRead)
{
    const std::string small = Pattern(100, 1);
    const std::string large = Pattern(3000, 2);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.AddSection(PlainType, 0, {}, small.data(), small.size());
    writer.AddSection(PlainType, 1, {}, large.data(), large.size());
    const std::string path = folder_ / "lazy.lpf";
    ASSERT_EQ(writer.WriteTo(IO::Location(path)), KR::NoError);
    const time_t written = ModificationTime(path);

    LPF::SymbolFile file{IO::Location(path)};
    // Change both sections on disk, keeping size and modification time.
    std::string bytes = ReadFileBytes(path);
    const std::size_t smallAt = bytes.find(small);
    const std::size_t largeAt = bytes.find(large);
    ASSERT_NE(smallAt, std::string::npos);
    ASSERT_NE(largeAt, std::string::npos);
    bytes.replace(smallAt, small.size(), Pattern(100, 9));
    bytes.replace(largeAt, large.size(), Pattern(3000, 8));
    WriteFileBytes(path, bytes);
    SetModificationTime(path, written);

    EXPECT_EQ(SectionBytes(file, PlainType, 0), small);            // from the first read
    EXPECT_EQ(SectionBytes(file, PlainType, 1), Pattern(3000, 8));  // read now
}

TEST_F(PartFileTest, FileChangedAfterOpenGivesErrChanged)
{
    const std::string large = Pattern(6000, 2);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.AddSection(PlainType, 0, {}, large.data(), large.size());
    const std::string path = folder_ / "changed.lpf";
    ASSERT_EQ(writer.WriteTo(IO::Location(path)), KR::NoError);

    LPF::SymbolFile grown{IO::Location(path)};
    WriteFileBytes(path, ReadFileBytes(path) + "more");
    char** data = reinterpret_cast<char**>(1);
    EXPECT_EQ(grown.GetSectionDataRef(PlainType, 0, &data), LPF::ErrChanged);
    EXPECT_EQ(data, nullptr);

    ASSERT_EQ(writer.WriteTo(IO::Location(path)), KR::NoError);
    LPF::SymbolFile touched{IO::Location(path)};
    SetModificationTime(path, ModificationTime(path) - 100);
    EXPECT_EQ(touched.GetSectionDataRef(PlainType, 0, &data), LPF::ErrChanged);
}

TEST_F(PartFileTest, GetSectionDataRefKeepsTheHandle)
{
    const std::string data = Pattern(64, 4);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.AddSection(PlainType, 0, {}, data.data(), data.size());
    ASSERT_EQ(writer.WriteTo(IO::Location(folder_ / "p.lpf")), KR::NoError);
    LPF::SymbolFile file{IO::Location(folder_ / "p.lpf")};
    char** first = nullptr;
    char** second = nullptr;
    ASSERT_EQ(file.GetSectionDataRef(PlainType, 0, &first), KR::NoError);
    ASSERT_EQ(file.GetSectionDataRef(PlainType, 0, &second), KR::NoError);
    EXPECT_EQ(first, second);
    char** missing = reinterpret_cast<char**>(1);
    EXPECT_EQ(file.GetSectionDataRef(PlainType, 1, &missing), LPF::ErrSectionNotFound);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(file.GetSectionDataRef(PlainType, 0, nullptr), KR::ErrParam);
}

// --- Byte order conversion through handlers --------------------------------

TEST_F(PartFileTest, ForeignSectionIsConvertedByItsHandlerOnceAndValidated)
{
    WordsHandler& handler = Handler();
    const std::string words = Words({0x0A0B0C0D, 7}, LPF::ByteOrder::Big);
    const std::string plain = Pattern(16, 5);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.AddSection(WordsType, 0, {1, LPF::OtherPlatform, 0}, words.data(), words.size());
    writer.AddSection(PlainType, 0, {1, LPF::OtherPlatform, 0}, plain.data(), plain.size());
    ASSERT_EQ(writer.WriteTo(IO::Location(folder_ / "foreign.lpf")), KR::NoError);

    LPF::SymbolFile file{IO::Location(folder_ / "foreign.lpf")};
    const int conversions = handler.conversions;
    const int validations = handler.validations;
    EXPECT_EQ(SectionBytes(file, WordsType), Words({0x0A0B0C0D, 7}, LPF::ByteOrder::Little));
    EXPECT_EQ(SectionBytes(file, WordsType), Words({0x0A0B0C0D, 7}, LPF::ByteOrder::Little));
    EXPECT_EQ(handler.conversions, conversions + 1);
    EXPECT_EQ(handler.validations, validations + 1);
    LPF::SectionInfo info;
    file.GetSectionInfo(0, &info);
    EXPECT_EQ(info.descriptor.platform, LPF::NativePlatform);

    char** data = nullptr;
    EXPECT_EQ(file.GetSectionDataRef(PlainType, 0, &data), LPF::ErrNoHandler);
    EXPECT_EQ(data, nullptr);
}

TEST_F(PartFileTest, HandlerRefusalsAreReportedAndNothingIsCached)
{
    WordsHandler& handler = Handler();
    const std::string odd = "12345";  // not whole words: conversion fails
    const std::string rejected = Words({RejectedWord, 1}, LPF::ByteOrder::Little);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.AddSection(WordsType, 0, {1, LPF::OtherPlatform, 0}, odd.data(), odd.size());
    writer.AddSection(WordsType, 1, {1, LPF::NativePlatform, 0}, rejected.data(), rejected.size());
    ASSERT_EQ(writer.WriteTo(IO::Location(folder_ / "refused.lpf")), KR::NoError);
    LPF::SymbolFile file{IO::Location(folder_ / "refused.lpf")};
    const std::size_t handles = KR::bmManager.GetLiveHandleCount();
    char** data = nullptr;
    EXPECT_EQ(file.GetSectionDataRef(WordsType, 0, &data), KR::ErrBadFormat);
    EXPECT_EQ(file.GetSectionDataRef(WordsType, 1, &data), KR::ErrBadFormat);
    const int validations = handler.validations;
    EXPECT_EQ(file.GetSectionDataRef(WordsType, 1, &data), KR::ErrBadFormat);
    EXPECT_EQ(handler.validations, validations + 1);  // tried again, not cached
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(KR::bmManager.GetLiveHandleCount(), handles);
    LPF::SectionInfo info;
    file.GetSectionInfo(0, &info);
    EXPECT_EQ(info.descriptor.platform, LPF::OtherPlatform);
}

// --- Replacing sections in memory and saving -------------------------------

TEST_F(PartFileTest, SetSectionDataRefReplacesAddsAndReleases)
{
    const std::string stored = Pattern(2000, 6);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.AddSection(PlainType, 0, {3, LPF::NativePlatform, 0}, stored.data(), stored.size());
    ASSERT_EQ(writer.WriteTo(IO::Location(folder_ / "set.lpf")), KR::NoError);
    LPF::SymbolFile file{IO::Location(folder_ / "set.lpf")};
    const std::size_t handles = KR::bmManager.GetLiveHandleCount();

    // Replace a stored section: the new handle is served, with its size.
    char** replacement = KR::bmManager.NewHandle(3);
    std::memcpy(*replacement, "xyz", 3);
    ASSERT_EQ(file.SetSectionDataRef(PlainType, 0, replacement), KR::NoError);
    char** data = nullptr;
    ASSERT_EQ(file.GetSectionDataRef(PlainType, 0, &data), KR::NoError);
    EXPECT_EQ(data, replacement);
    LPF::SectionInfo info;
    file.GetSectionInfo(0, &info);
    EXPECT_EQ(info.size, 3u);
    EXPECT_EQ(info.descriptor.version, 3u);

    // Releasing it reads the stored data again on next use.
    ASSERT_EQ(file.SetSectionDataRef(PlainType, 0, nullptr), KR::NoError);
    EXPECT_EQ(KR::bmManager.GetLiveHandleCount(), handles);
    EXPECT_EQ(SectionBytes(file, PlainType, 0), stored);

    // A new section exists in memory only; releasing it removes it.
    char** added = KR::bmManager.NewHandle(8, true);
    ASSERT_EQ(file.SetSectionDataRef(PlainType, 9, added), KR::NoError);
    EXPECT_TRUE(file.HasSection(PlainType, 9));
    EXPECT_EQ(file.GetSectionCount(), 2u);
    ASSERT_EQ(file.SetSectionDataRef(PlainType, 9, nullptr), KR::NoError);
    EXPECT_FALSE(file.HasSection(PlainType, 9));
    EXPECT_EQ(file.GetSectionCount(), 1u);

    EXPECT_EQ(file.SetSectionDataRef(PlainType, 9, nullptr), LPF::ErrSectionNotFound);
    char fake[8];
    char* master = fake;
    EXPECT_EQ(file.SetSectionDataRef(PlainType, 0, &master), KR::ErrBadHandle);
}

TEST_F(PartFileTest, SaveWritesPresentSectionsThroughAScratchFile)
{
    const std::string keep = Pattern(5000, 1);
    const std::string foreign = Pattern(30, 2);
    const std::string words = Words({5, 6}, LPF::ByteOrder::Big);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.SetOwnUnID(MakeUnID(3));
    writer.SetDocumentName("Saved");
    writer.SetHeaderPlatform(LPF::OtherPlatform);
    writer.AddSection(PlainType, 0, {}, keep.data(), keep.size());
    writer.AddSection(PlainType, 1, {1, LPF::OtherPlatform, 0}, foreign.data(), foreign.size());
    writer.AddSection(WordsType, 0, {1, LPF::OtherPlatform, 0}, words.data(), words.size());
    writer.AddSection(PlainType, 2, {}, "gone", 4);
    const std::string path = folder_ / "save.lpf";
    ASSERT_EQ(writer.WriteTo(IO::Location(path)), KR::NoError);

    LPF::SymbolFile file{IO::Location(path)};
    char** changed = KR::bmManager.NewHandle(5);
    std::memcpy(*changed, "fresh", 5);
    ASSERT_EQ(file.SetSectionDataRef(PlainType, 2, changed), KR::NoError);
    char** added = KR::bmManager.NewHandle(2);
    std::memcpy(*added, "ok", 2);
    ASSERT_EQ(file.SetSectionDataRef(PlainType, 7, added), KR::NoError);
    ASSERT_EQ(file.Save(), KR::NoError);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.Path()), {}), 1);  // no scratch left

    // The part file object goes on working with the new file.
    EXPECT_EQ(SectionBytes(file, PlainType, 0), keep);
    EXPECT_EQ(file.GetHeaderPlatform(), LPF::NativePlatform);

    LPF::SymbolFile reread{IO::Location(path)};
    EXPECT_EQ(reread.GetHeaderPlatform(), LPF::NativePlatform);
    EXPECT_EQ(reread.GetFullDocumentName(), "Saved");
    KR::UnID id;
    reread.GetOwnUnID(&id);
    EXPECT_EQ(id, MakeUnID(3));
    EXPECT_EQ(SectionBytes(reread, PlainType, 0), keep);
    EXPECT_EQ(SectionBytes(reread, PlainType, 2), "fresh");
    EXPECT_EQ(SectionBytes(reread, PlainType, 7), "ok");
    // Converted where a handler could, kept as stored where none could.
    LPF::SectionDescriptor descriptor;
    reread.GetSectionDescriptor(WordsType, 0, &descriptor);
    EXPECT_EQ(descriptor.platform, LPF::NativePlatform);
    EXPECT_EQ(SectionBytes(reread, WordsType), Words({5, 6}, LPF::ByteOrder::Little));
    reread.GetSectionDescriptor(PlainType, 1, &descriptor);
    EXPECT_EQ(descriptor.platform, LPF::OtherPlatform);
    const std::string bytes = ReadFileBytes(path);
    EXPECT_NE(bytes.find(foreign), std::string::npos);
}

// --- Mounted file systems ----------------------------------------------------

// A read-only file system of files in one folder, held in memory.
class MemoryVFS : public IO::FixedVFS {
public:
    std::map<std::string, std::string> files;

    KR::ErrorCode GetInfo(const IO::RelativeLocation& path, EntryInfo* info) const override
    {
        if (path.IsEmpty()) {
            *info = EntryInfo{true, 0, 0};
            return KR::NoError;
        }
        auto it = files.find(path.ToString());
        if (it == files.end())
            return IO::ErrNotFound;
        *info = EntryInfo{false, 0, it->second.size()};
        return KR::NoError;
    }
    KR::ErrorCode ListFolder(const IO::RelativeLocation& path, std::vector<FolderEntry>* entries) const override
    {
        if (!path.IsEmpty())
            return IO::ErrNotFound;
        entries->clear();
        for (const auto& [name, content] : files)
            entries->push_back(FolderEntry{IO::Name(name), false});
        return KR::NoError;
    }
    KR::ErrorCode ReadFile(const IO::RelativeLocation& path, std::string* content, std::uint64_t maxSize) const override
    {
        auto it = files.find(path.ToString());
        if (it == files.end())
            return IO::ErrNotFound;
        if (it->second.size() > maxSize)
            return IO::ErrTooLarge;
        *content = it->second;
        return KR::NoError;
    }
};

TEST_F(PartFileTest, PartFilesInAMountedFileSystemAreReadButNotSaved)
{
    const std::string large = Pattern(9000, 3);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.SetDocumentName("Mounted");
    writer.AddSection(PlainType, 0, {}, large.data(), large.size());
    MemoryVFS vfs;
    vfs.files["m.lpf"] = writer.ToBytes();
    const IO::Location mountPoint(folder_ / "mnt");
    ASSERT_EQ(IO::fileSystem.Mount(vfs, mountPoint), KR::NoError);
    {
        LPF::SymbolFile file{IO::Location(folder_ / "mnt/m.lpf")};
        EXPECT_EQ(file.GetFullDocumentName(), "Mounted");
        EXPECT_EQ(SectionBytes(file, PlainType, 0), large);
        EXPECT_EQ(file.Save(), IO::ErrReadOnly);
    }
    ASSERT_EQ(IO::fileSystem.Unmount(vfs), KR::NoError);
}

// --- Refused files -----------------------------------------------------------

TEST_F(PartFileTest, FilesThatAreNoPartFilesAreRefused)
{
    WriteFileBytes(folder_ / "text.lpf", "just some text, long enough to hold a header of fifty-six bytes");
    EXPECT_EQ(OpenError(folder_ / "text.lpf"), LPF::ErrNotPartFile);
    WriteFileBytes(folder_ / "empty.lpf", "");
    EXPECT_EQ(OpenError(folder_ / "empty.lpf"), LPF::ErrNotPartFile);
    EXPECT_EQ(OpenError(folder_ / "missing.lpf"), IO::ErrNotFound);

    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    std::string bytes = writer.ToBytes();
    bytes[8] = 2;  // version 2.0 (little-endian: low byte first)
    bytes[9] = 2;
    WriteFileBytes(folder_ / "v2.lpf", bytes);
    EXPECT_EQ(OpenError(folder_ / "v2.lpf"), LPF::ErrUnsupportedVersion);
    bytes = writer.ToBytes();
    bytes[4] = 'X';  // unknown byte order
    WriteFileBytes(folder_ / "order.lpf", bytes);
    EXPECT_EQ(OpenError(folder_ / "order.lpf"), LPF::ErrDamaged);
}

TEST_F(PartFileTest, InconsistentDirectoriesAreRefused)
{
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.AddSection(PlainType, 0, {}, "aaaaaaaa", 8);
    writer.AddSection(PlainType, 1, {}, "bbbbbbbb", 8);
    const std::string good = writer.ToBytes();
    // Directory at 56 (no name); entry k at 56 + 32k: type, sub at +4,
    // platform at +12, offset at +20, size at +24.
    auto patched = [&](std::size_t at, const std::string& value) {
        std::string b = good;
        b.replace(at, value.size(), value);
        return b;
    };
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"same section twice", patched(56 + 32 + 4, std::string(1, '\0'))},
        {"overlapping sections", patched(56 + 32 + 20, std::string("\x7C\0\0\0", 4))},
        {"section inside the directory", patched(56 + 20, std::string("\x40\0\0\0", 4))},
        {"section past the end", patched(56 + 32 + 24, std::string("\x09\0\0\0", 4))},
        {"huge offset", patched(56 + 20, std::string("\xF0\xFF\xFF\xFF", 4))},
        {"unknown section byte order", patched(56 + 12, std::string("AB\0\0", 4))},
        {"section count beyond the file", patched(52, std::string("\x03\0\0\0", 4))},
        {"absurd section count", patched(52, std::string("\xFF\xFF\xFF\xFF", 4))},
        {"name longer than allowed", patched(48, std::string("\x00\x01", 2))},
        {"unknown kind", patched(10, std::string("\x03\x00", 2))},
    };
    for (const auto& c : cases) {
        WriteFileBytes(folder_ / "bad.lpf", c.bytes);
        EXPECT_EQ(OpenError(folder_ / "bad.lpf"), LPF::ErrDamaged) << c.what;
    }
    WriteFileBytes(folder_ / "good.lpf", good);
    EXPECT_EQ(OpenError(folder_ / "good.lpf"), KR::NoError);
}

TEST_F(PartFileTest, InconsistentLongDirectoriesAreRefused)
{
    // Directories of many sections are checked by sorting rather than
    // pairwise; the same faults must be found.
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    for (std::uint8_t i = 0; i < 40; ++i)
        writer.AddSection(PlainType, i, {}, "12345678", 8);
    const std::string good = writer.ToBytes();
    const std::size_t last = 56 + 39 * 32;  // directory entry of the last section
    std::string twice = good;
    twice[last + 4] = 0;  // the sub-identifier of the first
    std::string overlap = good;
    overlap.replace(last + 20, 4, good.substr(56 + 20, 4));  // the offset of the first
    WriteFileBytes(folder_ / "twice.lpf", twice);
    EXPECT_EQ(OpenError(folder_ / "twice.lpf"), LPF::ErrDamaged);
    WriteFileBytes(folder_ / "overlap.lpf", overlap);
    EXPECT_EQ(OpenError(folder_ / "overlap.lpf"), LPF::ErrDamaged);
    WriteFileBytes(folder_ / "good.lpf", good);
    EXPECT_EQ(OpenError(folder_ / "good.lpf"), KR::NoError);
}

}  // namespace
