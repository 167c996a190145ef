// The sorted indexes, the duplicate check, keeping the indexes current and
// the searches of the part table.
#include "PartTableTestSupport.hpp"

#include "KR/Text.hpp"

#include <algorithm>
#include <numeric>
#include <random>
#include <set>

namespace PartTableTest {
namespace {

using Indexes = LibrarySetFixture;

// The orders of the indexes, written straight from their definition.
int NaiveNameOrder(const LM::LibElement& a, const LM::LibElement& b)
{
    if (int c = KR::ch04Manager.Compare(a.documentName, -1, b.documentName, -1, 0, 0); c != 0)
        return c;
    const FTM::GeneralID ta = LM::MapPartFileType(a.fileType);
    const FTM::GeneralID tb = LM::MapPartFileType(b.fileType);
    return ta < tb ? -1 : ta > tb ? 1 : 0;
}

int NaiveUnIDOrder(const LM::LibElement& a, const LM::LibElement& b)
{
    const KR::UnID& ka = LM::GetKeyUnID(a);
    const KR::UnID& kb = LM::GetKeyUnID(b);
    if (int c = KR::guidManager.Compare(ka.mainGuid, kb.mainGuid); c != 0)
        return c;
    if (int c = KR::guidManager.Compare(ka.revGuid, kb.revGuid); c != 0)
        return c;
    return NaiveNameOrder(a, b);
}

// Random placeholders: names that often share their first eight bytes,
// identifiers from a small pool, the two part types, an ordinary type and a
// group.
void FillRandomly(LM::PartTable& table, std::mt19937& random, int count, int idPool)
{
    static const char* const stems[] = {"Window", "Window_Double_", "Window_Double_Hung", "Door", "door", "D",
                                        "", "Wall 10", "Wall 9", "\xC3\xA9tag\xC3\xA8re"};
    const Types& t = GetTypes();
    const FTM::GeneralID types[] = {t.part, t.script, t.text, t.group};
    for (int k = 0; k < count; ++k) {
        std::string name = stems[random() % std::size(stems)];
        if (random() % 2 != 0)
            name += std::to_string(random() % 20);
        const KR::UnID id = random() % 6 == 0 ? NULLUnID
                                              : MakeUnID(static_cast<std::uint32_t>(random() % idPool),
                                                         static_cast<std::uint32_t>(random() % 3));
        const std::int32_t i = table.AppendPlaceholder(name.c_str(), id, 0, types[random() % 4], 0);
        table.Get(i)->valid = random() % 4 != 0;
    }
}

// On random tables full of clashes: both indexes are permutations in the
// orders of their definition, and the duplicate check reports what the
// rules, applied by hand to the sorted indexes, give.
TEST_F(Indexes, SortedIndexesAndDuplicateReportsFollowTheirDefinitions)
{
    std::mt19937 random(3);
    FillRandomly(Table(), random, 2000, 15);
    for (std::int32_t i = 0; i < Table().GetCount(); ++i)
        Table().Get(i)->location = IO::Location("/r/" + std::to_string(i));
    Table().BuildIndexes();
    const auto& byName = Table().GetNameIndex();
    const auto& byUnID = Table().GetUnIDIndex();
    std::vector<std::uint32_t> all(2000);
    std::iota(all.begin(), all.end(), 0u);
    for (const auto* index : {&byName, &byUnID}) {
        std::vector<std::uint32_t> sorted(*index);
        std::sort(sorted.begin(), sorted.end());
        ASSERT_EQ(sorted, all);
    }
    for (std::size_t k = 1; k < byName.size(); ++k) {
        ASSERT_LE(NaiveNameOrder(*Table().Get(byName[k - 1]), *Table().Get(byName[k])), 0) << k;
        ASSERT_LE(NaiveUnIDOrder(*Table().Get(byUnID[k - 1]), *Table().Get(byUnID[k])), 0) << k;
    }

    const auto record = [&](std::uint32_t i) -> const LM::LibElement& { return *Table().Get(std::int32_t(i)); };
    const auto sameName = [&](std::uint32_t a, std::uint32_t b) {
        return LM::CompareDocumentNames(record(a).documentName, record(b).documentName) == 0;
    };
    const auto mapped = [&](std::uint32_t i) { return LM::MapPartFileType(record(i).fileType); };
    std::vector<RecordedReport> expected;
    const auto expect = [&](RecordedReport::Kind kind, const std::vector<std::uint32_t>& index, std::size_t from,
                            std::size_t to) {
        RecordedReport& r = expected.emplace_back();
        r.kind = kind;
        r.unID = kind == RecordedReport::Kind::UnID ? LM::GetKeyUnID(record(index[from])) : KR::UnID{};
        r.name = record(index[from]).documentName;
        for (std::size_t k = from; k < to; ++k)
            r.locations.push_back(record(index[k]).location);
    };
    for (std::size_t start = 0; start < byUnID.size();) {
        const KR::UnID key = LM::GetKeyUnID(record(byUnID[start]));
        std::size_t end = start;
        while (end < byUnID.size() && LM::GetKeyUnID(record(byUnID[end])) == key)
            ++end;
        for (std::size_t sub = start; end - start >= 2 && sub < end;) {
            std::size_t subEnd = sub + 1;
            while (subEnd < end && sameName(byUnID[sub], byUnID[subEnd]) &&
                   (key != NULLUnID || mapped(byUnID[sub]) == mapped(byUnID[subEnd])))
                ++subEnd;
            if (key != NULLUnID)
                expect(RecordedReport::Kind::UnID, byUnID, sub, subEnd);
            else if (subEnd - sub >= 2)
                expect(RecordedReport::Kind::Files, byUnID, sub, subEnd);
            sub = subEnd;
        }
        start = end;
    }
    for (std::size_t start = 0; start < byName.size();) {
        std::size_t end = start + 1;
        while (end < byName.size() && sameName(byName[start], byName[end]) && mapped(byName[start]) == mapped(byName[end]))
            ++end;
        bool differs = false;
        for (std::size_t k = start + 1; k < end; ++k)
            differs = differs || LM::GetKeyUnID(record(byName[k])) != LM::GetKeyUnID(record(byName[start]));
        if (differs && mapped(byName[start]) == types.part)
            expect(RecordedReport::Kind::Name, byName, start, end);
        start = end;
    }

    EXPECT_EQ(handler_.started, 1);
    ASSERT_EQ(handler_.reports.size(), expected.size());
    std::set<RecordedReport::Kind> kinds;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const RecordedReport& got = handler_.reports[k];
        EXPECT_TRUE(got.kind == expected[k].kind && got.unID == expected[k].unID && got.name == expected[k].name &&
                    got.locations == expected[k].locations)
            << k;
        // More than three locations come in an allocated array, the inline ones left empty.
        EXPECT_EQ(got.allocated, got.locations.size() > 3) << k;
        EXPECT_TRUE(!got.allocated || got.inlineEmpty) << k;
        kinds.insert(got.kind);
    }
    // The table does hold many clashes of every kind.
    EXPECT_GT(expected.size(), 50u);
    EXPECT_EQ(kinds.size(), 3u);
}

TEST_F(Indexes, SearchesFindTheFirstValidRecordOfTheirRun)
{
    EXPECT_EQ(set_->SearchSymbolByUnID(MakeUnID(1, 1), nullptr), -1);  // an empty table
    const std::int32_t bench = AddFile(WritePart("Bench.gsm", "Bench", MakeUnID(1, 1)), types.part);
    const std::int32_t benchText = AddFile(WritePlain("Bench.txt"), types.text);
    const std::int32_t script = AddFile(WriteScript("Door.scr", "Door"), types.script);
    const KR::UnID id = MakeUnID(4, 4);
    AddFile(WritePart("Z.gsm", "Zed", id), types.part);
    const std::int32_t alpha = AddFile(WritePart("A.gsm", "Alpha", id), types.part);
    Table().AppendPlaceholder("Ghost", MakeUnID(6, 6), 0, types.part, 0);
    const std::int32_t first = AddFile(WritePart("a8.gsm", "Eight", MakeUnID(8, 1)), types.part);
    const std::int32_t second = AddFile(WritePart("b8.gsm", "Beta", MakeUnID(8, 2)), types.part);
    AddFile(WritePart("c8.gsm", "Gamma", MakeUnID(8, 3)), types.part);
    const std::int32_t delta = AddFile(WritePart("d.gsm", "Delta", MakeUnID(9, 1)), types.part);
    EXPECT_EQ(set_->GetSortedSymbolIndexByName(0), -1);  // not built yet
    EXPECT_EQ(set_->SearchSymbolDocuName("Bench"), -1);
    Table().BuildIndexes();
    EXPECT_EQ(set_->GetSortedSymbolIndexByName(0), alpha);
    EXPECT_EQ(set_->GetSortedSymbolIndexByName(set_->GetSymbolNumber()), -1);

    // By document name; the typed search looks at the first record of the run only.
    EXPECT_EQ(set_->SearchSymbolDocuName("Bench", types.part), bench);
    EXPECT_EQ(set_->SearchSymbolDocuName("Bench", types.text), -1);
    EXPECT_EQ(set_->SearchSymbolDocuName("Door", types.script), script);
    EXPECT_EQ(set_->SearchSymbolDocuName("Door", types.part), -1);
    EXPECT_EQ(set_->SearchSymbolDocuName("Benc"), -1);
    // An invalid first record of a run hides the valid ones after it.
    set_->SetSymbolValid(bench, false);
    EXPECT_EQ(set_->SearchSymbolDocuName("Bench"), -1);
    set_->SetSymbolValid(bench, true);
    set_->SetSymbolValid(benchText, false);
    EXPECT_EQ(set_->SearchSymbolDocuName("Bench"), bench);
    // By file name: name order (case does not matter), valid only, exact type.
    EXPECT_EQ(set_->SearchSymbolFileName("bench.GSM"), bench);
    EXPECT_EQ(set_->SearchSymbolFileName("Bench.txt"), -1);
    EXPECT_EQ(set_->SearchSymbolFileName("Door.scr", types.script), script);
    EXPECT_EQ(set_->SearchSymbolFileName("Door.scr", types.part), -1);
    EXPECT_EQ(set_->SearchSymbol(PathOf("Door.scr")), script);
    EXPECT_EQ(set_->SearchSymbol(PathOf("Bench.txt")), -1);
    // By UnID: the smallest name of the run, never a placeholder; without a
    // UnID by name, among the records without one.
    EXPECT_EQ(set_->SearchSymbolByUnID(id, nullptr), alpha);
    EXPECT_EQ(set_->SearchSymbolByUnID(MakeUnID(6, 6), nullptr), -1);
    EXPECT_EQ(set_->SearchSymbolByUnID(NULLUnID, nullptr), -1);
    EXPECT_EQ(set_->SearchSymbolByUnID(NULLUnID, "Door"), script);
    EXPECT_EQ(set_->SearchSymbolByUnID(NULLUnID, "Alpha"), -1);
    // Anyhow: an ambiguous main GUID is settled by the name, else the first
    // record wins; then by document name, then by file name.
    bool ambiguous = false;
    EXPECT_EQ(set_->SearchSymbolAnyhow(MakeUnID(8, 9), "Beta", &ambiguous), second);
    EXPECT_TRUE(ambiguous);
    ambiguous = false;
    EXPECT_EQ(set_->SearchSymbolAnyhow(MakeUnID(8, 9), nullptr, &ambiguous), first);
    EXPECT_TRUE(ambiguous);
    EXPECT_EQ(set_->SearchSymbolAnyhow(MakeUnID(8, 2), "Gamma", &ambiguous), second);
    EXPECT_FALSE(ambiguous);
    EXPECT_EQ(set_->SearchSymbolAnyhow(MakeUnID(9, 5), nullptr, &ambiguous), delta);
    EXPECT_FALSE(ambiguous);
    EXPECT_EQ(set_->SearchSymbolAnyhow(MakeUnID(70, 1), "Delta", nullptr), delta);
    EXPECT_EQ(set_->SearchSymbolAnyhow(NULLUnID, "Door.scr", nullptr), script);
    EXPECT_EQ(set_->SearchSymbolAnyhow(MakeUnID(70, 1), nullptr, nullptr), -1);
    set_->SetSymbolValid(alpha, false);
    EXPECT_EQ(set_->SearchSymbolByUnID(id, nullptr), -1);
}

// The chains behind the main GUID and placeholder searches against plain
// scans, while identifiers, types and validity change at random.
TEST_F(Indexes, MainGuidLookupStaysInStepWithTheRecords)
{
    std::mt19937 random(5);
    KR::VAArray<std::int32_t> hits;  // each search empties it first
    const FTM::GeneralID kinds[] = {types.part, types.script, types.text};
    FillRandomly(Table(), random, 400, 12);

    const auto naiveMain = [&](const KR::UnID& id) {
        std::vector<std::int32_t> hits;
        for (std::int32_t i = 0; i < Table().GetCount(); ++i) {
            const LM::LibElement& r = *Table().Get(i);
            if (r.valid && LM::IsLibraryPartFileType(r.fileType) &&
                KR::guidManager.IsEqual(r.GetSymbolData()->GetOwnUnID().mainGuid, id.mainGuid))
                hits.push_back(i);
        }
        return hits;
    };
    const auto naiveDummy = [&](const KR::UnID& id, const char* name) -> std::int32_t {
        if (id == NULLUnID && name == nullptr)
            return -1;
        for (std::int32_t i = 0; i < Table().GetCount(); ++i) {
            const LM::LibElement& r = *Table().Get(i);
            const KR::UnID own = r.GetSymbolData() != nullptr ? r.GetSymbolData()->GetOwnUnID() : NULLUnID;
            if (!r.valid && own == id && (name == nullptr || LM::CompareDocumentNames(r.documentName, name) == 0))
                return i;
        }
        return -1;
    };

    for (int round = 0; round < 30; ++round) {
        for (int step = 0; step < 40; ++step) {
            const auto i = static_cast<std::int32_t>(random() % static_cast<unsigned>(Table().GetCount()));
            const KR::UnID id = random() % 8 == 0 ? NULLUnID
                                                  : MakeUnID(static_cast<std::uint32_t>(random() % 12),
                                                             static_cast<std::uint32_t>(random() % 3));
            switch (random() % 4) {
            case 0: set_->SetSymbolOwnUnID(i, id); break;
            case 1: Table().InitPlaceholder(i, "Re", id, 0, kinds[random() % 3], 0); break;
            case 2: Table().AppendPlaceholder("New", id, 0, kinds[random() % 3], 0); break;
            default: Table().Get(i)->valid = !Table().Get(i)->valid; break;
            }
        }
        for (std::uint32_t main = 0; main < 12; ++main) {
            const KR::UnID probe = MakeUnID(main, 0);
            const std::int32_t n = set_->SearchSymbolByMainUnID(probe, &hits);
            const std::vector<std::int32_t> got(hits.begin(), hits.end());
            ASSERT_EQ(got, naiveMain(probe)) << "round " << round << " main " << main;
            ASSERT_EQ(n, static_cast<std::int32_t>(got.size()));
            for (std::uint32_t rev = 0; rev < 3; ++rev) {
                const KR::UnID id = MakeUnID(main, rev);
                ASSERT_EQ(set_->SearchDummySymbol(id, nullptr), naiveDummy(id, nullptr));
                ASSERT_EQ(set_->SearchDummySymbol(id, "Re"), naiveDummy(id, "Re"));
            }
        }
        set_->SearchSymbolByMainUnID(NULLUnID, &hits);
        ASSERT_EQ(std::vector<std::int32_t>(hits.begin(), hits.end()), naiveMain(NULLUnID));
        ASSERT_EQ(set_->SearchDummySymbol(NULLUnID, "Re"), naiveDummy(NULLUnID, "Re"));
    }
    EXPECT_EQ(set_->SearchSymbolByMainUnID(MakeUnID(1, 0), nullptr), -1);
}

}  // namespace
}  // namespace PartTableTest
