// Reading the files' first bytes ahead on a second thread changes nothing
// that an enumeration shows: the same records (names, identifiers, times,
// folders, paths in the hierarchy), folders and progress calls as the walk
// that reads every file itself, with damaged files, a file that vanishes
// during the walk, a folder of many files around a sub-folder and a cancel.
#include "EnumerateTestSupport.hpp"

#include "LPF/ByteOrder.hpp"
#include "LibrarySet/LibrarySetInternals.hpp"
#include "LibrarySet/ReadAhead.hpp"
#include "SectionTypes.hpp"
#include "Support/FaultPlatform.hpp"

#include <filesystem>

namespace EnumerateTest {
namespace {

using PartTableTest::MakeUnID;

// Cancels at its `cancelAt`-th check; at the check that shows the value
// `vanishAt`, deletes `vanishing` (a file the walk has listed but not reached).
class CancellingSink : public RecordingSink {
public:
    bool IsBreakRequested(bool) override { return ++breakChecks == cancelAt; }
    void SetValue(std::int32_t value) override
    {
        RecordingSink::SetValue(value);
        if (value == vanishAt)
            std::filesystem::remove(vanishing);
    }
    int cancelAt = 0;
    std::int32_t vanishAt = -1;
    std::string vanishing;
};

class EnumerateReadAhead : public EnumerateFixture {
protected:
    void TearDown() override
    {
        LM::SetReadAheadMode(LM::ReadAheadMode::Auto);
        EnumerateFixture::TearDown();
    }

    // A part with an ancestry section of `ancestors` ancestors and `extra`
    // empty sections (over a hundred make a directory longer than the first read).
    void WriteAncestryPart(const std::string& file, std::uint32_t n, std::uint32_t ancestors, std::uint32_t extra = 0)
    {
        std::string section(4, '\0');
        LPF::Append32(section, ancestors, LPF::ByteOrder::Little);
        section.append(24, '\0');
        for (std::uint32_t k = 1; k <= ancestors; ++k)
            for (const KR::GUID& guid : {MakeUnID(500 + k, 1).mainGuid, MakeUnID(500 + k, 1).revGuid})
                LPF::AppendGUID(section, guid, LPF::ByteOrder::Little);
        LPF::PartFileWriter writer(LPF::PartKind::Symbol);
        writer.SetOwnUnID(MakeUnID(1000 + n, 1));
        ASSERT_EQ(writer.SetDocumentName("part " + std::to_string(n)), 0);
        ASSERT_EQ(writer.AddSection(LM::AncestrySectionType, 0, LPF::SectionDescriptor{}, section.data(), section.size()), 0);
        for (std::uint32_t k = 0; k < extra; ++k)
            ASSERT_EQ(writer.AddSection(0x45000000 + k, 0, LPF::SectionDescriptor{}, nullptr, 0), 0);
        TestSupport::WriteFileBytes(dir / file, writer.ToBytes());
    }

    void WriteLibraries()
    {
        // Files on both sides of a sub-folder, so the walk leaves a folder
        // half read and comes back to it.
        for (std::uint32_t n = 0; n < 160; ++n)
            WriteAncestryPart("Lib/Many/p" + std::to_string(100 + n) + ".gsm", n, n % 4);
        for (std::uint32_t n = 0; n < 20; ++n)
            WriteAncestryPart("Lib/Many/p150/q" + std::to_string(n) + ".gsm", 200 + n, 1);
        WriteAncestryPart("Lib/Bad/long.gsm", 300, 2, 140);
        WritePart("Lib/Bad/noname.gsm", "", MakeUnID(1, 1));
        WriteScript("Lib/Bad/script.gsm", "script");
        dir.WriteFile("Lib/Bad/empty.gsm", "");
        dir.WriteFile("Lib/Bad/random.gsm", std::string(5000, '\x89'));
        dir.WriteFile("Lib/Bad/truncated.gsm", std::string("\x89LPF", 4) + "WW");
        dir.WriteFile("Lib/Bad/._meta.gsm", "x");
        dir.WriteFile("Lib/Bad/unreadable.gsm", "x");
        std::filesystem::permissions(dir / "Lib/Bad/unreadable.gsm", std::filesystem::perms::none);
        for (std::uint32_t n = 0; n < 120; ++n)
            WriteAncestryPart("Second/s" + std::to_string(100 + n) + ".gsm", 400 + n, 1);
    }

    // Everything an enumeration shows, as text, and the progress calls.
    std::vector<std::string> Enumerated(LM::ReadAheadMode mode)
    {
        LM::SetReadAheadMode(mode);
        set = NewSet();
        EXPECT_EQ(AddLibrary("Lib"), 0);
        EXPECT_EQ(AddLibrary("Second"), 1);
        CancellingSink sink;
        sink.cancelAt = 7;  // the second library's third check, at its hundredth file
        sink.vanishAt = 100;
        sink.vanishing = dir / "Lib/Many/p245.gsm";
        const std::size_t descriptors = TestSupport::OpenDescriptorCount();
        EXPECT_EQ(set->Enumerate(), 0);
        EXPECT_EQ(TestSupport::OpenDescriptorCount(), descriptors);
        WriteAncestryPart("Lib/Many/p245.gsm", 145, 1);

        std::vector<std::string> shown = sink.calls;
        for (std::int32_t k = 0; k < set->GetFolderNumber(); ++k)
            shown.push_back(Folder(k).location.GetText() + " " + std::to_string(Folder(k).parent));
        for (std::int32_t i = 0; i < set->GetSymbolNumber(); ++i) {
            IO::Location location;
            char name[LM::DocumentNameSize] = {};
            KR::UnID own{};
            std::int32_t time = 0;
            const int errors = (set->GetSymbolLocation(i, &location) != 0) + (set->GetSymbolDocumentName(i, name) != 0) * 2 +
                               (set->GetSymbolOwnUnID(i, &own) != 0) * 4 + (set->GetSymbolFileModTime(i, &time) != 0) * 8;
            shown.push_back(location.GetText() + " " + name + " " + std::to_string(own.mainGuid.data1) + " " +
                            std::to_string(time) + " " + std::to_string(set->GetSymbolFolderIndex(i)) + " " +
                            std::to_string(LM::LibrarySetInternals::GetSymbolAncestryId(*set, i)) + " " + std::to_string(errors));
        }
        return shown;
    }
};

TEST_F(EnumerateReadAhead, ShowsExactlyWhatTheWalkAloneShows)
{
    WriteLibraries();
    const std::uint64_t takenBefore = LM::ReadAheadTakenCount();
    const std::vector<std::string> alone = Enumerated(LM::ReadAheadMode::Off);
    EXPECT_EQ(LM::ReadAheadTakenCount(), takenBefore);
    // Every file that the reader can read goes through a slot (but for up
    // to a ring of files read ahead when the walk enters the sub-folder);
    // then as the walk and the reader meet.
    EXPECT_EQ(Enumerated(LM::ReadAheadMode::Every), alone);
    EXPECT_GE(LM::ReadAheadTakenCount() - takenBefore, 160 + 20 + 100 - LM::ReadAhead::SlotCount);
    EXPECT_EQ(Enumerated(LM::ReadAheadMode::On), alone);

    // The walk stopped in the second library, and the file that vanished
    // under the walk is a record without a file, as when read alone.
    EXPECT_EQ(set->GetSymbolNumber(), 160 + 20 + 7 + 100);
    char name[LM::DocumentNameSize] = {};
    EXPECT_EQ(set->GetSymbolDocumentName(set->SearchSymbol(dir.Loc("Lib/Many/p245.gsm")), name), 0);
    EXPECT_STREQ(name, "p245");

    // A test's platform sees every call on the walk's own thread: no reader.
    const std::uint64_t takenAhead = LM::ReadAheadTakenCount();
    TestSupport::FaultPlatform faults;
    EXPECT_EQ(Enumerated(LM::ReadAheadMode::On), alone);
    EXPECT_EQ(LM::ReadAheadTakenCount(), takenAhead);
}

}  // namespace
}  // namespace EnumerateTest
