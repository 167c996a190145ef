// The set's other objects: single files, given by location or by URL, that
// belong to the configuration without lying inside an active library.
// Ordered by name when added. Internal.
#pragma once

#include "IO/Location.hpp"
#include "KR/String.hpp"

#include <cstdint>
#include <vector>

namespace LM {

struct OtherObject {
    IO::Location location;  // may be empty for an object given by URL
    KR::String url;         // empty for an object given by location
    bool urlFlag = false;   // added by URL; afterwards: the URL last set is not empty
    KR::String name;        // from the location or the URL
};

// These operations neither clear the set's enumerated flag nor notify its
// observers; the set's public operations do that around them.
class OtherObjectList {
public:
    std::int32_t GetCount() const noexcept { return static_cast<std::int32_t>(objects_.size()); }
    bool IsValidIndex(std::int32_t index) const noexcept { return index >= 0 && index < GetCount(); }
    // The object at `index`, or null for a bad index.
    OtherObject* Get(std::int32_t index) noexcept;
    const OtherObject* Get(std::int32_t index) const noexcept;

    // Index of the new object, or of the object that has this location (or
    // URL) already; -1 for an empty argument.
    std::int32_t Add(const IO::Location& location);
    std::int32_t Add(const KR::String& url);
    // Store the value and recompute the name; the object keeps its place.
    // The URL flag becomes whether the new URL is empty (the name is made
    // with the flag as it was). False for a bad index.
    bool SetLocation(std::int32_t index, const IO::Location& location);
    bool SetUrl(std::int32_t index, const KR::String& url);
    void Clear() noexcept { objects_.clear(); }

    // The name of an object: with the URL flag false the last name of the
    // location; with it true the part of the URL after its last backslash,
    // else after its last slash, else the whole URL.
    static KR::String MakeName(const OtherObject& object);

    // One other object of a stored configuration; either field may be empty.
    struct Record {
        IO::Location location;
        KR::String url;
    };
    // Applies each record in order: a record with a location adds an object
    // by location and sets its URL to the record's; one with only a URL adds
    // an object by URL and sets its location to the record's (empty) one; one
    // with neither is dropped. With `skipPresent` a record for which an
    // object with an equal location and an equal URL exists is skipped. The
    // result is that of the single operations one after the other. When no
    // record shares a location or URL with an object present or another
    // record, and the list is in name order, they are added in
    // O((n + k) log k); otherwise one at a time.
    void AddRecords(const std::vector<Record>& records, bool skipPresent);

private:
    std::int32_t Insert(OtherObject&& object);

    std::vector<OtherObject> objects_;
};

}  // namespace LM
