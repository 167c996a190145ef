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

private:
    std::int32_t Insert(OtherObject&& object);

    std::vector<OtherObject> objects_;
};

}  // namespace LM
