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

std::string LibraryKey(const LM::ActiveLibrary& library)
{
    return library.location.GetText() + "|" + library.url.Std() + "|" + library.name.Std() + "|" +
           (library.vital ? "v" : "-") + (library.permanent ? "p" : "-");
}

std::vector<std::string> Keys(LM::ActiveLibraryList& list)
{
    std::vector<std::string> keys;
    for (std::int32_t i = 0; i < list.GetCount(); ++i)
        keys.push_back(LibraryKey(*list.Get(i)));
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
    for (int round = 0; round < 200; ++round) {
        auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
        std::vector<LM::ActiveLibraryList::Record> present, records;
        auto make = [&] {
            LM::ActiveLibraryList::Record record;
            record.isUrl = pick(3) == 0;
            record.vital = pick(2) == 0;
            record.permanent = pick(2) == 0;
            // Few folders, so that locations and URLs repeat.
            const std::string name = Names[pick(Names.size())];
            if (record.isUrl)
                record.url = pick(8) == 0 ? "" : "http://h/" + std::to_string(pick(3)) + "/" + name + "/";
            else if (pick(8) != 0)
                record.location = IO::Location("/nowhere/" + std::to_string(pick(3)) + "/" + name);
            return record;
        };
        for (std::size_t i = pick(6); i > 0; --i)
            present.push_back(make());
        for (std::size_t i = pick(12); i > 0; --i)
            records.push_back(make());

        LM::ActiveLibraryList one, all;
        for (auto* list : {&one, &all})
            for (const auto& record : present)
                record.isUrl ? list->Add(record.url, record.permanent, record.vital)
                             : list->Add(record.location, record.permanent, record.vital, false);
        for (const auto& record : records)
            record.isUrl ? one.Add(record.url, record.permanent, record.vital)
                         : one.Add(record.location, record.permanent, record.vital, false);
        all.AddAll(records, false);
        ASSERT_EQ(Keys(one), Keys(all)) << "round " << round;
    }
}

TEST(ListRecordsTest, OtherObjectsAddedAtOnceMatchTheSingleOperations)
{
    std::mt19937 random(81);
    for (int round = 0; round < 400; ++round) {
        auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
        // Rounds alternate between keys that never repeat (added at once)
        // and keys from a small pool (one at a time, renames included).
        const bool distinct = round % 2 == 0;
        int serial = 0;
        auto key = [&](const char* prefix) {
            const std::string name = Names[pick(Names.size())];
            return std::string(prefix) + (distinct ? std::to_string(serial++) : std::to_string(pick(2))) + "/" + name;
        };
        auto make = [&] {
            LM::OtherObjectList::Record record;
            if (pick(4) != 0)
                record.location = IO::Location(key("/nowhere/"));
            if (pick(2) == 0)
                record.url = key("http://h/");
            return record;
        };
        std::vector<LM::OtherObjectList::Record> present, records;
        for (std::size_t i = pick(5); i > 0; --i)
            present.push_back(make());
        for (std::size_t i = pick(12); i > 0; --i)
            records.push_back(make());
        const bool skipPresent = pick(2) == 0;

        LM::OtherObjectList one, all;
        auto apply = [&](LM::OtherObjectList& list, const LM::OtherObjectList::Record& record, bool skip) {
            if (skip)
                for (std::int32_t i = 0; i < list.GetCount(); ++i)
                    if (list.Get(i)->location == record.location && list.Get(i)->url == record.url)
                        return;
            if (!record.location.IsEmpty())
                list.SetUrl(list.Add(record.location), record.url);
            else if (!record.url.IsEmpty())
                list.SetLocation(list.Add(record.url), record.location);
        };
        for (auto* list : {&one, &all})
            for (const auto& record : present)
                apply(*list, record, false);
        for (const auto& record : records)
            apply(one, record, skipPresent);
        all.AddRecords(records, skipPresent);
        ASSERT_EQ(Keys(one), Keys(all)) << "round " << round;
    }
}

}  // namespace
