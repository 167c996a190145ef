// The project file: what an application would keep in its project data. It
// is readable JSON (docs/formats/libman-project.md) holding the library
// configuration as an opaque info block in hexadecimal text, and the tool's
// own settings. It is rewritten atomically and a damaged one is never
// overwritten.
#pragma once

#include <string>

namespace Libman {

struct Project {
    std::string infoBlock;        // the configuration block's bytes
    std::string scriptCodeCache;  // folder of the compiled script code cache
    std::string lanCache;         // LAN cache folder ("" when not set)
    std::string urlCache;         // URL cache folder ("" when not set)
    bool useLanCache = false;
};

enum class LoadStatus { Loaded, Missing, Damaged };

// Reads the project at `path`. Missing: nothing at the path (`project` left
// at its defaults). Damaged: the file exists but cannot be read as a project;
// `problem` says why.
LoadStatus LoadProject(const std::string& path, Project* project, std::string* problem);

// Writes `project` to `path` through a scratch file beside it that is flushed
// and renamed over the old file. An empty string, or what went wrong.
std::string SaveProject(const std::string& path, const Project& project);

// Writes `bytes` to `path` the same way. An empty string, or what went wrong.
std::string ReplaceFileContent(const std::string& path, const std::string& bytes);

std::string ToHex(const std::string& bytes);
// False for text of odd length or with a character that is not a hex digit.
bool FromHex(const std::string& text, std::string* bytes);

}  // namespace Libman
