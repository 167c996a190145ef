// Writes a synthetic library: part files in a folder tree with type
// hierarchies, other revisions, parts without identifier, duplicates, script
// files and other files. The same options give the same files, byte for byte.
#pragma once

#include <cstdint>
#include <string>

namespace lpftool {

struct GeneratorOptions {
    std::uint64_t parts = 0;        // part files (.lpf) to write
    std::uint64_t seed = 1;
    std::uint32_t depth = 5;        // most levels of a type hierarchy
    std::uint32_t types = 0;        // type parts; 0: chosen from `parts`
    std::int64_t scripts = -1;      // script files (.lps); -1: parts / 50
    std::int64_t others = -1;       // other files (.txt, .png); -1: parts / 50
};

struct GeneratorSummary {
    std::uint64_t parts = 0;
    std::uint64_t types = 0;            // parts that define a type (roots included)
    std::uint64_t templates = 0;        // root types marked as templates
    std::uint64_t ordinary = 0;
    std::uint64_t revisions = 0;        // same main GUID as another part, other revision GUID
    std::uint64_t withoutId = 0;        // null own UnID, ancestors declared
    std::uint64_t duplicateIds = 0;     // the UnID of another part
    std::uint64_t duplicateNames = 0;   // the document name of another part
    std::uint64_t unnamed = 0;          // no document name
    std::uint64_t otherByteOrder = 0;   // written big-endian
    std::uint64_t scripts = 0;
    std::uint64_t others = 0;
    std::uint64_t folders = 0;
    std::uint32_t deepestHierarchy = 0;  // most ancestors of one part

    std::string ToString() const;
};

// Writes the library into `folder`, which must be missing or empty.
// False with `*error` set when it cannot.
bool GenerateLibrary(const std::string& folder, const GeneratorOptions& options, GeneratorSummary* summary,
                     std::string* error);

}  // namespace lpftool
