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

}  // namespace Libman
