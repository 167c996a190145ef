// Adding the libraries and other objects of a stored configuration to the
// set's lists in one go.
//
// Added one by one, each library or object costs a search of the whole list
// for its location or URL and a walk to its place by name, and the vector
// moves every record behind that place: restoring n records costs O(n^2).
// Here the searches go through hash sets and the new records are sorted once
// and merged into the list, with the same result. A list that only ever
// grows by insertion before the first name that compares greater or equal is
// in name order, so the place of a new record is after every record with a
// smaller name and before every record with a greater or equal one: the
// final order is by name, and among equal names the records added later
// come first, followed by those that were there before, in their order.
#include "KR/Text.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/OtherObjectList.hpp"

#include <algorithm>
#include <exception>
#include <numeric>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace LM {

namespace {

bool NameLess(const KR::String& a, const KR::String& b) noexcept
{
    return KR::ch04Manager.Compare(a.ToCStr(), b.ToCStr(), 1) < 0;
}

// The positions of `items` (in the order they were added) in name order,
// the later of two equal names first.
template <typename Item>
std::vector<std::size_t> OrderByName(const std::vector<Item>& items)
{
    std::vector<std::size_t> order;
    order.reserve(items.size());
    // Records of a block that a set wrote come in name order already: then
    // each run of equal names only needs reversing.
    bool ascending = true;
    std::size_t runStart = 0;
    for (std::size_t i = 1; i <= items.size() && ascending; ++i) {
        if (i < items.size() && !NameLess(items[i - 1].name, items[i].name)) {
            ascending = !NameLess(items[i].name, items[i - 1].name);
            continue;  // equal names: the run goes on
        }
        for (std::size_t j = i; j > runStart; --j)
            order.push_back(j - 1);
        runStart = i;
    }
    if (ascending)
        return order;
    // Otherwise sort the positions from the last added to the first,
    // keeping that order among equals.
    order.assign(items.size(), 0);
    std::iota(order.rbegin(), order.rend(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return NameLess(items[a].name, items[b].name); });
    return order;
}

// Merges `added` (in the order they were added) into `list` (in name order)
// as inserting them one after the other before the first record whose name
// compares greater or equal would. Nothing is moved before every allocation
// has succeeded; the moves themselves cannot throw.
template <typename Item>
void MergeByName(std::vector<Item>& list, std::vector<Item>& added)
{
    if (added.empty())
        return;
    // The later of two equal names goes first.
    std::vector<std::size_t> order = OrderByName(added);

    std::vector<Item> merged;
    merged.reserve(list.size() + added.size());
    std::size_t next = 0;
    for (Item& present : list) {
        while (next < order.size() && !NameLess(present.name, added[order[next]].name))
            merged.push_back(std::move(added[order[next++]]));
        merged.push_back(std::move(present));
    }
    for (; next < order.size(); ++next)
        merged.push_back(std::move(added[order[next]]));
    list.swap(merged);
    added.clear();
}

}  // namespace

void ActiveLibraryList::AddAll(const std::vector<Record>& records, bool mount)
{
    std::unordered_set<IO::Location> locations;
    std::unordered_set<std::string> urls;
    for (const ActiveLibrary& library : libraries_) {
        if (!library.location.IsEmpty())
            locations.insert(library.location);
        if (!library.url.IsEmpty())
            urls.insert(library.url.Std());
    }

    std::vector<ActiveLibrary> added;
    std::exception_ptr failure;
    try {
        for (const Record& record : records) {
            if (record.isUrl) {
                if (record.url.IsEmpty() || !urls.insert(record.url.Std()).second)
                    continue;
                added.push_back(MakeLibrary(record.url, record.permanent, record.vital));
            } else {
                if (record.location.IsEmpty() || !locations.insert(record.location).second)
                    continue;
                added.push_back(MakeLibrary(record.location, record.permanent, record.vital, mount));
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    MergeByName(libraries_, added);
    if (failure)
        std::rethrow_exception(failure);
}

void OtherObjectList::AddRecords(const std::vector<Record>& records, bool skipPresent)
{
    // The fast way holds when every record makes an object of its own: no
    // record shares a location or a URL with an object present or with
    // another record, and the list is in name order (setting a location or
    // URL renames an object without moving it). Then adding by location and
    // setting the URL gives the object the location's name, and adding by
    // URL and setting the empty location the URL's name.
    bool independent = true;
    for (std::size_t i = 1; i < objects_.size() && independent; ++i)
        independent = !NameLess(objects_[i].name, objects_[i - 1].name);
    std::unordered_set<IO::Location> locations;
    std::unordered_set<std::string> urls;
    for (const OtherObject& object : objects_) {
        if (!object.location.IsEmpty())
            locations.insert(object.location);
        if (!object.url.IsEmpty())
            urls.insert(object.url.Std());
    }
    for (std::size_t i = 0; i < records.size() && independent; ++i) {
        const Record& record = records[i];
        if (!record.location.IsEmpty() && !locations.insert(record.location).second)
            independent = false;
        if (!record.url.IsEmpty() && !urls.insert(record.url.Std()).second)
            independent = false;
    }

    if (!independent) {
        // One after the other, exactly as the single operations do.
        for (const Record& record : records) {
            if (skipPresent && std::any_of(objects_.begin(), objects_.end(), [&](const OtherObject& object) {
                    return object.location == record.location && object.url == record.url;
                }))
                continue;
            if (!record.location.IsEmpty())
                SetUrl(Add(record.location), record.url);
            else if (!record.url.IsEmpty())
                SetLocation(Add(record.url), record.location);
        }
        return;
    }

    std::vector<OtherObject> added;
    std::exception_ptr failure;
    try {
        for (const Record& record : records) {
            if (record.location.IsEmpty() && record.url.IsEmpty())
                continue;
            OtherObject object;
            object.location = record.location;
            object.url = record.url;
            object.urlFlag = record.location.IsEmpty();
            object.name = MakeName(object);
            object.urlFlag = !record.url.IsEmpty();
            added.push_back(std::move(object));
        }
    } catch (...) {
        failure = std::current_exception();
    }
    MergeByName(objects_, added);
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace LM
