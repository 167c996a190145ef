// The compiled script code container: its file, the purge, and the library
// set operations that share one container between sets.
#include "librarymanagerdll/PartTable/PscBinCodesFile.hpp"
#include "PartTableTestSupport.hpp"

#include "AncestryHierarchy.hpp"
#include "AncestryInfo.hpp"
#include "KR/Memory.hpp"
#include "KR/Time.hpp"
#include "PartTable/PscBinCodesContainer.hpp"
#include "Support/Handles.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using PartTableTest::MakeUnID;
using PscBinCodesTest::BuildContainerFile;
using PscBinCodesTest::ItemSpec;
using TestSupport::OwnedHandle;

std::int32_t fakeNow = 0;
std::int32_t FakeNow() noexcept
{
    return fakeNow;
}

std::int32_t At(std::int16_t year, std::int16_t month, std::int16_t day, std::int16_t hour = 0,
               std::int16_t minute = 0, std::int16_t second = 0)
{
    return KR::dateTimeManager.Combine({year, month, day, hour, minute, second});
}

// The clock under the test's control and one library set.
class PscBinCodesFixture : public PartTableTest::LibrarySetFixture {
protected:
    void SetUp() override
    {
        previousSource_ = KR::DateTimeManager::SetTimeSource(&FakeNow);
        fakeNow = At(2024, 5, 10, 12);
        LibrarySetFixture::SetUp();
    }

    void TearDown() override
    {
        LibrarySetFixture::TearDown();
        LM::PscBinCodesContainerRegistry::Destroy(cache_);
        KR::DateTimeManager::SetTimeSource(previousSource_);
    }

    std::string CacheFile() const { return dir_ / "cache/ScriptCodes.dat"; }
    void WriteCacheFile(const std::string& bytes) const { TestSupport::WriteFileBytes(CacheFile(), bytes); }

    // A part record in `set` with own UnID `id` whose ancestry path in the
    // set's hierarchy is `ancestors` followed by the part itself.
    std::int32_t AddPart(LM::LibrarySet& set, const std::string& file, const KR::UnID& id,
                         const std::vector<KR::UnID>& ancestors)
    {
        LM::PartTable& table = *LM::LibrarySetInternals::GetPartTable(set);
        const std::int32_t i = table.AppendFromFile(
            std::filesystem::exists(dir_ / file) ? dir_.Loc(file) : WritePart(file, file, id), 0, types.part, 0);
        const std::uint32_t pathId = LM::LibrarySetInternals::GetTypeHierarchy(set)->AddPath(
            ancestors.data(), static_cast<std::uint32_t>(ancestors.size()), id);
        LM::LibrarySetInternals::SetSymbolAncestryId(set, i, pathId);
        table.SortIndexes();
        return i;
    }

    // Where record `i` keeps the index of its code of `scriptType`.
    static std::int32_t& CodeIndex(LM::LibrarySet& set, std::int32_t i, std::int16_t scriptType)
    {
        return LM::LibrarySetInternals::GetPartTable(set)->Get(i)->GetSymbolData()->codeIndices[scriptType - 1];
    }

    // The code the set lends for part `i`, with the operation's result.
    static std::pair<std::int32_t, std::string> Lend(LM::LibrarySet& set, std::int32_t i, std::int16_t type)
    {
        char** code = nullptr;
        const std::int32_t result = set.GetSymbolPscBinCode(i, type, &code);
        return {result, OwnedHandle(code).Bytes()};
    }

    static std::int32_t Store(LM::LibrarySet& set, std::int32_t i, std::int16_t type, const std::string& bytes)
    {
        OwnedHandle code(bytes);
        return set.SetSymbolPscBinCode(i, type, code.h);
    }

private:
    KR::DateTimeManager::TimeSource previousSource_ = nullptr;
};

const KR::UnID partA = MakeUnID(0xA, 1);
const KR::UnID partB = MakeUnID(0xB, 1);
const KR::UnID parent1 = MakeUnID(0x100, 1);
const KR::UnID parent2 = MakeUnID(0x200, 1);

// ----- The container and its file ---------------------------------------------

TEST_F(PscBinCodesFixture, FileHoldsHeaderTableAndDataAndReadsBack)
{
    const std::int32_t created = fakeNow;
    {
        LM::PscBinCodesContainer container(dir_.Loc("cache"));
        ASSERT_EQ(0, container.GetCount());
        OwnedHandle code1("code-one");
        OwnedHandle section1(std::string(32, '\0'));
        OwnedHandle code2("second code");
        EXPECT_EQ(1, container.Add(partA, dir_.Loc("a.gsm"), 3, code1.h, section1.h, *set_));
        EXPECT_EQ(2, container.Add(NULLUnID, dir_.Loc("b.gsm"), 3, code2.h, nullptr, *set_));
        fakeNow += 60;
    }
    const std::string bytes = TestSupport::ReadFileBytes(CacheFile());
    // Little-endian on this machine: magic, timestamp, version 1, count 2,
    // step 50, record size 112.
    EXPECT_EQ(std::string("\x37\x30\x32\x4C", 4) + std::string(reinterpret_cast<const char*>(&created), 4) +
                  std::string("\x01\x00\x02\x00\x00\x00\x32\x00\x00\x00\x70\x00\x00\x00", 14),
              bytes.substr(0, 22));

    fakeNow += 60;
    LM::PscBinCodesContainer loaded(dir_.Loc("cache"));
    ASSERT_EQ(2, loaded.GetCount());
    EXPECT_EQ(created, loaded.GetTimestamp());
    EXPECT_EQ(1, loaded.Find(partA, IO::Location(), 3));
    EXPECT_EQ(2, loaded.Find(NULLUnID, dir_.Loc("b.gsm"), 3));
    // A NULLUnID search matches any item at that location, also one with a UnID.
    EXPECT_EQ(1, loaded.Find(NULLUnID, dir_.Loc("a.gsm"), 3));
    const LM::PscBinCodeItem& first = loaded.GetItem(1);
    EXPECT_EQ(2, first.useCount);  // set once, read once by the writer
    EXPECT_EQ(created + 60, first.lastUse);
    EXPECT_FALSE(loaded.IsChecked(1));
    EXPECT_EQ(nullptr, first.code);  // not read before it is asked for

    char** code = nullptr;
    char** section = nullptr;
    EXPECT_EQ(0, loaded.GetCode(1, &code, &section));
    EXPECT_EQ("code-one", OwnedHandle(code).Bytes());
    EXPECT_EQ(std::string(32, '\0'), OwnedHandle(section).Bytes());
    EXPECT_EQ(3, loaded.GetItem(1).useCount);
    EXPECT_EQ(fakeNow, loaded.GetItem(1).lastUse);
    EXPECT_EQ(LM::ErrBadIndex, loaded.GetCode(3, &code, nullptr));
    EXPECT_EQ(LM::ErrBadIndex, loaded.Remove(3, *set_));
}

TEST_F(PscBinCodesFixture, CodesAreReadOnFirstUseNotWhenTheTableIsLoaded)
{
    // Large codes, so that the second one lies far beyond what reading the
    // table brings in.
    const std::string big1 = TestSupport::Pattern(200000, 1);
    WriteCacheFile(BuildContainerFile(fakeNow, {{partA, dir_.Loc("a"), 1, 1, fakeNow, big1, ""},
                                                {partB, dir_.Loc("b"), 1, 1, fakeNow, big1, ""}}));
    auto container = std::make_unique<LM::PscBinCodesContainer>(dir_.Loc("cache"));
    char** code = nullptr;
    ASSERT_EQ(0, container->GetCode(1, &code, nullptr));
    EXPECT_EQ(big1, OwnedHandle(code).Bytes());
    // Cutting the file (the same file the container holds open) loses the
    // second code: it was not read with the table.
    ASSERT_EQ(0, ::truncate(CacheFile().c_str(), static_cast<off_t>(container->GetItem(2).codeOffset)));
    ASSERT_EQ(0, container->GetCode(2, &code, nullptr));
    EXPECT_EQ(nullptr, code);
    // The first code is held in memory and written again; the lost one is
    // written as empty.
    container.reset();
    LM::PscBinCodesContainer reloaded(dir_.Loc("cache"));
    ASSERT_EQ(2, reloaded.GetCount());
    EXPECT_EQ(big1.size(), reloaded.GetItem(1).codeSize);
    EXPECT_EQ(0u, reloaded.GetItem(2).codeSize);
}

// ----- The purge ----------------------------------------------------------------

// The keys (script types) of the items that survive writing at `now` a
// container whose last purge was at `purged`.
class PscBinCodesPurgeTest : public PscBinCodesFixture {
protected:
    std::vector<int> Survivors(std::int32_t purged, std::int32_t now, const std::vector<ItemSpec>& items)
    {
        WriteCacheFile(BuildContainerFile(purged, items));
        fakeNow = now;
        LM::PscBinCodesContainer(dir_.Loc("cache")).GetCount();  // made and destroyed: written
        LM::PscBinCodesContainer after(dir_.Loc("cache"));
        std::vector<int> types;
        for (std::int32_t k = 1; k <= after.GetCount(); ++k)
            types.push_back(after.GetItem(k).scriptType);
        return types;
    }
};

TEST_F(PscBinCodesPurgeTest, RunsHalfAMonthAfterTheLastAndDropsCodesUnusedForAMonthOrRarelyUsed)
{
    // 31 March 12:00 back one month is 29 February 12:00 (the day is
    // clamped); half way (15.5 days) is 16 March 00:00.
    const std::int32_t now = At(2024, 3, 31, 12);
    const std::int32_t monthAgo = At(2024, 2, 29, 12);
    const std::int32_t halfMonthAgo = At(2024, 3, 16);
    const IO::Location where("/lib/p");
    const std::vector<ItemSpec> items = {{partA, where, 1, 100, monthAgo - 1, "c", ""},    // a month: dropped however used
                                         {partA, where, 2, 100, monthAgo, "c", ""},        // exactly a month: kept
                                         {partA, where, 3, 4, halfMonthAgo - 1, "c", ""},  // rarely used: dropped
                                         {partA, where, 4, 5, halfMonthAgo - 1, "c", ""},  // used five times: kept
                                         {partA, where, 5, 4, halfMonthAgo, "c", ""}};     // exactly half: kept
    // Purged half a calendar month ago: no purge yet; a second later it runs.
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5}), Survivors(halfMonthAgo, now, items));
    EXPECT_EQ((std::vector<int>{2, 4, 5}), Survivors(halfMonthAgo - 1, now, items));
    EXPECT_EQ(now, LM::PscBinCodesContainer(dir_.Loc("cache")).GetTimestamp());
}

// ----- The library set operations --------------------------------------------

TEST_F(PscBinCodesFixture, SetAndGetCodesOfARecord)
{
    const std::int32_t a = AddPart(*set_, "a.gsm", partA, {parent1});
    const std::int32_t text = LM::LibrarySetInternals::GetPartTable(*set_)->AppendFromFile(
        WritePlain("readme.txt"), 0, types.text, 0);

    // Never compiled, bad indices and script types, no place for the code.
    EXPECT_EQ(std::make_pair(LM::ErrBadIndex, std::string()), Lend(*set_, a, 1));
    for (const auto& [i, type] : {std::pair{a + 5, 1}, {a, 0}, {a, 7}, {-1, 1}}) {
        EXPECT_EQ(LM::ErrBadIndex, Lend(*set_, i, static_cast<std::int16_t>(type)).first) << i << " " << type;
        EXPECT_EQ(LM::ErrBadIndex, Store(*set_, i, static_cast<std::int16_t>(type), "x")) << i << " " << type;
    }
    EXPECT_EQ(KR::ErrParam, set_->GetSymbolPscBinCode(a, 1, nullptr));

    OwnedHandle code("compiled");
    ASSERT_EQ(0, set_->SetSymbolPscBinCode(a, 1, code.h));
    EXPECT_EQ("compiled", code.Bytes());  // the caller keeps its handle
    EXPECT_EQ(std::make_pair(0, std::string("compiled")), Lend(*set_, a, 1));
    EXPECT_EQ(LM::ErrBadIndex, Lend(*set_, a, 2).first);
    // Setting again replaces the code in the same item.
    const std::int32_t k = CodeIndex(*set_, a, 1);
    ASSERT_EQ(0, Store(*set_, a, 1, "recompiled"));
    EXPECT_EQ(k, CodeIndex(*set_, a, 1));
    EXPECT_EQ("recompiled", Lend(*set_, a, 1).second);

    // The stored ancestry section is the part's current ancestry.
    auto* container = LM::LibrarySetInternals::GetScriptCodeContainer(*set_);
    char** section = nullptr;
    ASSERT_EQ(0, container->GetCode(k, nullptr, &section));
    LM::AncestryInfo stored(section);
    KR::bmManager.KillHandle(section);
    ASSERT_EQ(1u, stored.GetAncestorsCount());
    EXPECT_EQ(parent1, stored.GetAncestorRef(1));

    // A record without part data stores by location but keeps no index.
    EXPECT_EQ(0, Store(*set_, text, 3, "t"));
    EXPECT_EQ(LM::ErrBadIndex, Lend(*set_, text, 3).first);
    EXPECT_NE(-1, container->Find(NULLUnID, dir_.Loc("readme.txt"), 3));
}

TEST_F(PscBinCodesFixture, TwoSetsShareTheContainerAndClearingReachesBoth)
{
    auto other = NewSet();
    const std::int32_t a = AddPart(*set_, "a.gsm", partA, {parent1});
    const std::int32_t b = AddPart(*set_, "b.gsm", partB, {});
    const std::int32_t otherA = AddPart(*other, "a.gsm", partA, {parent1});
    ASSERT_EQ(0, Store(*set_, a, 4, "code of a"));
    ASSERT_EQ(0, Store(*set_, b, 4, "code of b"));

    // Not looked up yet: found by UnID, and the index is kept.
    CodeIndex(*other, otherA, 4) = -2;
    EXPECT_EQ("code of a", Lend(*other, otherA, 4).second);
    EXPECT_EQ(CodeIndex(*set_, a, 4), CodeIndex(*other, otherA, 4));
    // Known as none: not looked up.
    EXPECT_EQ(LM::ErrBadIndex, Lend(*other, otherA, 5).first);

    // Clearing through one set clears the indices of both.
    EXPECT_EQ(0, other->ClearAllPscBinCodes());
    for (std::int16_t type = 1; type <= 6; ++type) {
        EXPECT_EQ(-1, CodeIndex(*set_, a, type));
        EXPECT_EQ(-1, CodeIndex(*other, otherA, type));
    }
    EXPECT_EQ(LM::ErrBadIndex, Lend(*set_, a, 4).first);
    EXPECT_EQ(LM::ErrBadIndex, Lend(*set_, b, 4).first);
    ASSERT_EQ(0, Store(*set_, b, 4, "again"));
    EXPECT_EQ("again", Lend(*set_, b, 4).second);
}

TEST_F(PscBinCodesFixture, ACodeCompiledForAnotherAncestryIsDroppedForEverySet)
{
    {
        const std::int32_t a = AddPart(*set_, "a.gsm", partA, {parent1});
        const std::int32_t b = AddPart(*set_, "b.gsm", partB, {parent1});
        ASSERT_EQ(0, Store(*set_, a, 1, "a compiled below parent 1"));
        ASSERT_EQ(0, Store(*set_, b, 1, "b compiled below parent 1"));
    }
    set_.reset();
    ASSERT_TRUE(LM::PscBinCodesContainerRegistry::Destroy(cache_));  // written; the sets forget it

    // The next session: in the first set the ancestry of a has changed.
    auto changed = NewSet();
    auto unchanged = NewSet();
    const std::int32_t a1 = AddPart(*changed, "a.gsm", partA, {parent2});
    const std::int32_t b1 = AddPart(*changed, "b.gsm", partB, {parent1});
    const std::int32_t a2 = AddPart(*unchanged, "a.gsm", partA, {parent1});
    for (auto [set, i] : {std::pair{changed.get(), a1}, {changed.get(), b1}, {unchanged.get(), a2}})
        CodeIndex(*set, i, 1) = -2;

    // The first lending after the change finds another ancestry: no code,
    // and the other set, which had not looked the part up yet, forgets it.
    EXPECT_EQ(std::make_pair(0, std::string()), Lend(*changed, a1, 1));
    EXPECT_EQ(-1, CodeIndex(*unchanged, a2, 1));
    EXPECT_EQ(LM::ErrBadIndex, Lend(*unchanged, a2, 1).first);
    // A part whose ancestry is the same keeps its code.
    EXPECT_EQ("b compiled below parent 1", Lend(*changed, b1, 1).second);
    // Compiled again, it serves both sets.
    ASSERT_EQ(0, Store(*changed, a1, 1, "a compiled below parent 2"));
    CodeIndex(*unchanged, a2, 1) = -2;
    EXPECT_EQ("a compiled below parent 2", Lend(*unchanged, a2, 1).second);
}

TEST_F(PscBinCodesFixture, ASetGoesBeforeItsContainerAndAContainerBeforeItsSets)
{
    auto* container = LM::LibrarySetInternals::GetScriptCodeContainer(*set_);
    ASSERT_NE(nullptr, container);
    auto gone = NewSet();
    const std::int32_t goneA = AddPart(*gone, "a.gsm", partA, {});
    ASSERT_EQ(0, Store(*gone, goneA, 2, "x"));
    gone.reset();
    EXPECT_EQ(1u, container->GetObserverCount());
    // The code stays for the sets that remain (it was checked when it was
    // set), and events no longer reach the destroyed set.
    const std::int32_t a = AddPart(*set_, "a.gsm", partA, {parent1});
    CodeIndex(*set_, a, 2) = -2;
    EXPECT_EQ(std::make_pair(0, std::string("x")), Lend(*set_, a, 2));
    EXPECT_EQ(0, set_->ClearAllPscBinCodes());

    // The container destroyed while the set lives: the set forgets it.
    ASSERT_TRUE(LM::PscBinCodesContainerRegistry::Destroy(cache_));  // written; the sets forget it
    EXPECT_EQ(nullptr, LM::LibrarySetInternals::GetScriptCodeContainer(*set_));
    EXPECT_EQ(LM::ErrNoCodeContainer, Lend(*set_, a, 2).first);
    EXPECT_EQ(LM::ErrNoCodeContainer, Store(*set_, a, 2, "x"));
    EXPECT_EQ(0, set_->ClearAllPscBinCodes());
}

}  // namespace
