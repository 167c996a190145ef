// Adding the records of a stored configuration in one go gives the lists
// that adding them one at a time gives, in the same order.
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/OtherObjectList.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Names that collide in every way the name order knows: equal texts, texts
// equal but for case, numbers with leading zeros, and plain differences.
const std::vector<std::string> Names = {"a", "A", "a1", "a01", "a2", "a10", "b", "B", "", "z", "Z"};

std::vector<std::string> Keys(LM::ActiveLibraryList& list)
{
    std::vector<std::string> keys;
    for (std::int32_t i = 0; i < list.GetCount(); ++i) {
        const LM::ActiveLibrary& l = *list.Get(i);
        keys.push_back(l.location.GetText() + "|" + l.url.Std() + "|" + l.name.Std() + (l.vital ? "|v" : "|-") +
                       (l.permanent ? "p" : "-"));
    }
    return keys;
}

std::vector<std::string> Keys(LM::OtherObjectList& list)
{
    std::vector<std::string> keys;
    for (std::int32_t i = 0; i < list.GetCount(); ++i) {
        const LM::OtherObject& o = *list.Get(i);
        keys.push_back(o.location.GetText() + "|" + o.url.Std() + "|" + o.name.Std() + (o.urlFlag ? "|u" : "|-"));
    }
    return keys;
}

TEST(ListRecordsTest, LibrariesAddedAtOnceStandWhereSingleAddsPutThem)
{
    std::mt19937 random(18);
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    const auto add = [](LM::ActiveLibraryList& list, const LM::ActiveLibraryList::Record& r) {
        r.isUrl ? list.Add(r.url, r.permanent, r.vital) : list.Add(r.location, r.permanent, r.vital, false);
    };
    for (int round = 0; round < 200; ++round) {
        std::vector<LM::ActiveLibraryList::Record> records(pick(6) + pick(12));
        for (auto& record : records) {
            record.isUrl = pick(3) == 0;
            record.vital = pick(2) == 0;
            record.permanent = pick(2) == 0;
            // Few folders, so that locations and URLs repeat.
            const std::string name = Names[pick(Names.size())];
            if (record.isUrl)
                record.url = pick(8) == 0 ? "" : "http://h/" + std::to_string(pick(3)) + "/" + name + "/";
            else if (pick(8) != 0)
                record.location = IO::Location("/nowhere/" + std::to_string(pick(3)) + "/" + name);
        }
        // The first records are in both lists before the rest is added.
        const std::size_t present = pick(records.size() + 1);
        LM::ActiveLibraryList one, all;
        for (std::size_t k = 0; k < records.size(); ++k) {
            add(one, records[k]);
            if (k < present)
                add(all, records[k]);
        }
        all.AddAll({records.begin() + static_cast<std::ptrdiff_t>(present), records.end()}, false);
        ASSERT_EQ(Keys(one), Keys(all)) << "round " << round;
    }
}

TEST(ListRecordsTest, OtherObjectsAddedAtOnceMatchTheSingleOperations)
{
    std::mt19937 random(81);
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    for (int round = 0; round < 400; ++round) {
        // Rounds alternate between keys that never repeat (added at once)
        // and keys from a small pool (one at a time, renames included).
        const bool distinct = round % 2 == 0;
        int serial = 0;
        const auto key = [&](const char* prefix) {
            const std::string name = Names[pick(Names.size())];
            return std::string(prefix) + (distinct ? std::to_string(serial++) : std::to_string(pick(2))) + "/" + name;
        };
        std::vector<LM::OtherObjectList::Record> records(pick(5) + pick(12));
        for (auto& record : records) {
            if (pick(4) != 0)
                record.location = IO::Location(key("/nowhere/"));
            if (pick(2) == 0)
                record.url = key("http://h/");
        }
        const std::size_t present = pick(records.size() + 1);
        const bool skipPresent = pick(2) == 0;

        LM::OtherObjectList one, all;
        const auto apply = [&](LM::OtherObjectList& list, const LM::OtherObjectList::Record& record, bool skip) {
            if (skip)
                for (std::int32_t i = 0; i < list.GetCount(); ++i)
                    if (list.Get(i)->location == record.location && list.Get(i)->url == record.url)
                        return;
            if (!record.location.IsEmpty())
                list.SetUrl(list.Add(record.location), record.url);
            else if (!record.url.IsEmpty())
                list.SetLocation(list.Add(record.url), record.location);
        };
        for (std::size_t k = 0; k < records.size(); ++k) {
            apply(one, records[k], k >= present && skipPresent);
            if (k < present)
                apply(all, records[k], false);
        }
        all.AddRecords({records.begin() + static_cast<std::ptrdiff_t>(present), records.end()}, skipPresent);
        ASSERT_EQ(Keys(one), Keys(all)) << "round " << round;
    }
}

}  // namespace
