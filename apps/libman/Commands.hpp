// The subcommands. Each returns its exit code (Output.hpp) and reports
// through the Output it is given; main() prints the JSON result.
#pragma once

#include "Output.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace Libman {

struct AddOptions {
    std::string target;  // folder, container file or URL
    bool vital = false;
    bool permanent = false;
    bool noMount = false;
};

struct CacheOptions {
    std::optional<std::string> lan;
    std::optional<std::string> url;
    std::optional<std::string> scripts;
    std::optional<bool> useLan;
};

// Exactly one of the fields is set.
struct SearchOptions {
    std::optional<std::string> name;  // part of a document name, any case
    std::optional<std::string> file;  // a file name, any case
    std::optional<std::string> unid;  // a UnID
    std::optional<std::string> main;  // the main GUID of a UnID (all revisions)
    std::optional<std::string> path;  // a file's path
};

struct TreeOptions {
    std::string part;     // the sub-hierarchy of this part; empty: all of it
    std::int32_t depth = 0;  // levels shown; 0: all
    bool sortByName = false;
    bool dot = false;
    std::string svg;      // the file to draw into; empty: no picture
};

struct SyncOptions {
    std::string part;    // only this part; empty: every library
    bool upload = false;  // neither direction: both
    bool download = false;
    bool dryRun = false;
    std::optional<bool> answer;  // --yes / --no
};

int Add(Output& out, const std::string& project, const AddOptions& options);
int Remove(Output& out, const std::string& project, const std::string& which);
int List(Output& out, const std::string& project);
int ObjectsAdd(Output& out, const std::string& project, const std::string& target);
int ObjectsList(Output& out, const std::string& project);
int CacheShow(Output& out, const std::string& project);
int CacheSet(Output& out, const std::string& project, const CacheOptions& options);
int ConfigExport(Output& out, const std::string& project, std::int32_t version, bool withoutPermanent,
                 const std::string& file);
int ConfigImport(Output& out, const std::string& project, const std::string& file, bool swapBytes);
int ConfigDiff(Output& out, const std::string& project, const std::string& file, bool caches);
int ConfigMerge(Output& out, const std::string& project, const std::string& file);
int ConfigReset(Output& out, const std::string& project);
int Enumerate(Output& out, const std::string& project);
int Search(Output& out, const std::string& project, const SearchOptions& options);
int Show(Output& out, const std::string& project, const std::string& part);
int Tree(Output& out, const std::string& project, const TreeOptions& options);
int ScriptsStats(Output& out, const std::string& project);
int ScriptsClear(Output& out, const std::string& project);
int Sync(Output& out, const std::string& project, const SyncOptions& options);

}  // namespace Libman
