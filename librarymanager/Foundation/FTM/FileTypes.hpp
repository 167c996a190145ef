// File types and the process-wide file type manager.
//
// A file type is a named set of file name extensions; a group is a named set
// of types and groups. Both are identified by a GeneralID: types by 0 and up,
// groups by negative values. UnknownType (0) is the type of every file whose
// extension belongs to no registered type; RootGroup (-1) holds every type.
// Extensions are compared without regard to ASCII case and are given without
// their dot.
#pragma once

#include "IO/Location.hpp"
#include "KR/Definitions.hpp"

#include <string>
#include <vector>

namespace FTM {

using GeneralID = std::int32_t;
using TypeID = GeneralID;
using GroupID = GeneralID;

inline constexpr TypeID UnknownType = 0;
inline constexpr GroupID RootGroup = -1;

inline constexpr KR::ErrorCode ErrUnknownID = KR::MakeErrorCode(0x81030001u);      // no type or group with that id
inline constexpr KR::ErrorCode ErrBadExtension = KR::MakeErrorCode(0x81030002u);   // empty, or containing '.', '/' or a zero byte

inline bool IsGroup(GeneralID id) noexcept { return id < 0; }

class FileType {
public:
    FileType() = default;
    explicit FileType(std::string name) : name_(std::move(name)) {}

    const std::string& GetName() const noexcept { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    // Adds an extension (kept in lower case); adding one that is there
    // already does nothing. ErrBadExtension for a bad one.
    KR::ErrorCode AddExtension(const char* extension);
    bool IsExtensionIncluded(const char* extension) const noexcept;
    const std::vector<std::string>& GetExtensions() const noexcept { return extensions_; }

private:
    std::string name_;
    std::vector<std::string> extensions_;
};

class FileTypeManager {
public:
    // Registers a type as a member of `group` (and so of every group above
    // it); returns its new id (1 and up).
    static TypeID AddType(const FileType& type, GroupID group = RootGroup);
    // Registers a group inside `parent`; returns its new id (-2 and down).
    static GroupID AddGroup(const char* name, GroupID parent = RootGroup);
    // Makes a registered type a member of a further group.
    static KR::ErrorCode AddTypeToGroup(TypeID type, GroupID group);

    static KR::ErrorCode GetType(TypeID id, FileType* type);
    static bool IsTypeInGroup(TypeID type, GroupID group);

    // The first registered type within `group` whose extensions include every
    // extension of `pattern`; UnknownType when there is none.
    static TypeID SearchForType(const FileType& pattern, GroupID group);

    // The type of the file at `location` judged by its extension, among the
    // types within `group`: the first such type that includes the extension,
    // or UnknownType.
    static TypeID GetTypeOf(const IO::Location& location, GroupID group = RootGroup);

    // Whether the file at `location` is of `id` judged by its extension:
    // for a type, GetTypeOf(location, group) == id; for a group, the type
    // GetTypeOf(location, group) is a registered type within the group `id`.
    static bool Match(const IO::Location& location, GeneralID id, GroupID group = RootGroup);
};

}  // namespace FTM
