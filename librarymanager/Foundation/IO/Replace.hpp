// Replacing a file so that nothing is lost.
//
// Every writer that rewrites a file does it in the same four steps: the new
// content is written beside the target under a scratch name, that file is
// flushed to the disk (fsync), renamed over the target in one atomic step,
// and the folder is flushed so that the rename itself is on the disk. A crash
// or power cut at any moment leaves either the old file complete or the new
// one complete (docs/durability.md). Only a regular file, or nothing, is ever
// replaced: a folder, device, pipe, socket or symbolic link at the target is
// refused and left as it is.
#pragma once

#include "KR/Definitions.hpp"

#include <string>
#include <string_view>

namespace IO {

enum class ReplaceMode : std::int32_t {
    Replace = 0,  // the target may exist and is replaced
    Create = 1,   // the target must not exist (ErrAlreadyExists otherwise)
};

// Whether the entry at `path` may be replaced: 0 when it is a regular file
// (`*exists` true) or missing (`*exists` false); ErrNotAFile for a folder,
// device, pipe, socket or symbolic link; the system's error
// when it cannot be examined. `mode` receives the permission bits of an
// existing file (may be null).
KR::ErrorCode CheckReplaceable(const std::string& path, bool* exists, unsigned* mode = nullptr);

// A hidden name beside `path` ("<folder>/.<name>.<purpose>-<unique>") under
// which nothing is stored yet. The caller still creates it exclusively: the
// name only makes a clash unlikely.
std::string ScratchPathBeside(const std::string& path, std::string_view purpose);

// Puts `scratch`, a finished file (or, with ReplaceMode::Create, a finished
// folder tree whose files are already flushed) that was written beside
// `target` in the same folder, at `target`: flushes it, renames it and
// flushes the folder. On failure the target is as it was (or still missing)
// and `scratch` is left for the caller to remove. A failure of the last
// flush is not reported: the target is replaced by then, and only its
// survival of a power cut is uncertain.
KR::ErrorCode ReplaceFile(const std::string& scratch, const std::string& target, ReplaceMode mode);

// Flushes the folder at `path` so that the entries made or renamed in it
// are on the disk.
KR::ErrorCode SyncFolder(const std::string& path);

}  // namespace IO
