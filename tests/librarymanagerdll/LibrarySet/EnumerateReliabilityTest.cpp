// One bad file, link or folder never breaks an enumeration: everything else
// is enumerated, nothing hangs, and no descriptor stays open.
#include "EnumerateTestSupport.hpp"

#include "Support/FaultPlatform.hpp"

#include <filesystem>

#include <unistd.h>

namespace EnumerateTest {
namespace {

using PartTableTest::MakeUnID;

std::size_t OpenDescriptors()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

class EnumerateReliability : public EnumerateFixture {
protected:
    // Ten good parts in Lib/Good, each findable by its UnID.
    void WriteGoodParts()
    {
        for (std::uint32_t k = 0; k < 10; ++k)
            WritePart("Lib/Good/p" + std::to_string(k) + ".gsm", "good" + std::to_string(k), MakeUnID(100 + k, 1));
    }
    void ExpectGoodParts()
    {
        for (std::uint32_t k = 0; k < 10; ++k)
            EXPECT_NE(set->SearchSymbolByUnID(MakeUnID(100 + k, 1), ("good" + std::to_string(k)).c_str()), -1) << k;
    }
};

TEST_F(EnumerateReliability, BadPartFilesLeaveEveryOtherPartEnumerated)
{
    WriteGoodParts();
    const std::string whole = [&] {
        LPF::PartFileWriter writer(LPF::PartKind::Symbol);
        writer.SetOwnUnID(MakeUnID(9, 9));
        EXPECT_EQ(writer.SetDocumentName("whole"), 0);
        return writer.ToBytes();
    }();
    dir.WriteFile("Lib/Bad/empty.gsm", "");
    dir.WriteFile("Lib/Bad/truncated.gsm", whole.substr(0, whole.size() / 2));
    dir.WriteFile("Lib/Bad/random.gsm", TestSupport::Pattern(5000, 3));
    dir.WriteFile("Lib/Bad/unreadable.gsm", whole);
    ASSERT_EQ(AddLibrary("Lib"), 0);

    // An unreadable file: refused by the system (as a file of mode 000 is to
    // a user who is not root).
    TestSupport::FaultPlatform faults;
    faults.FailPath(dir / "Lib/Bad/unreadable.gsm", EACCES);
    ASSERT_EQ(set->Enumerate(), 0);
    EXPECT_GT(faults.Injected(), 0u);

    ExpectGoodParts();
    // A part file that cannot be read is still a record (its validity
    // follows its location) but holds no open part file; the fallback name
    // is the file name without its extension.
    for (const char* name : {"empty", "truncated", "random", "unreadable"}) {
        const std::int32_t i = set->SearchSymbol(dir.Loc(std::string("Lib/Bad/") + name + ".gsm"));
        ASSERT_NE(i, -1) << name;
        EXPECT_TRUE(set->IsSymbolValid(i)) << name;
        if (std::string(name) != "truncated") {
            EXPECT_EQ(set->GetSymbolFile(i), nullptr) << name;
            char documentName[LM::DocumentNameSize] = {};
            EXPECT_EQ(set->GetSymbolDocumentName(i, documentName), 0);
            EXPECT_STREQ(documentName, name);
        }
    }
    EXPECT_EQ(set->GetSymbolNumber(), 14);
}

TEST_F(EnumerateReliability, ALibraryFolderThatVanishesDuringTheWalkIsLeftAsFoundSoFar)
{
    WriteTexts("A/Sub1", 60);
    WriteTexts("A/Sub2", 60);
    WriteTexts("B", 5);
    ASSERT_EQ(AddLibrary("A"), 0);
    ASSERT_EQ(AddLibrary("B"), 1);

    RecordingSink sink;
    bool removed = false;
    sink.onValue = [&](std::int32_t value) {
        if (value == 50 && !removed) {
            removed = true;
            std::filesystem::remove_all(dir / "A");
        }
    };
    ASSERT_EQ(set->Enumerate(), 0);
    EXPECT_TRUE(removed);
    EXPECT_LE(PartsBelow("A"), 60);
    EXPECT_EQ(PartsBelow("B"), 5);
}

TEST_F(EnumerateReliability, NoPartFileStaysOpenAfterTheEnumeration)
{
    WriteGoodParts();
    WriteTexts("Lib/Texts", 30);
    ASSERT_EQ(AddLibrary("Lib"), 0);
    const std::size_t before = OpenDescriptors();
    ASSERT_EQ(set->Enumerate(), 0);
    EXPECT_EQ(OpenDescriptors(), before);
    // Reading a part's attributes afterwards opens nothing that stays open.
    char name[LM::DocumentNameSize] = {};
    EXPECT_EQ(set->GetSymbolDocumentName(set->SearchSymbolByUnID(MakeUnID(100, 1), "good0"), name), 0);
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace EnumerateTest
