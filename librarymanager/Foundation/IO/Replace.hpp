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
// ScratchPathBeside, drawn again (up to 100 times) while the name is taken;
// any other answer of the check ends the search, and making the entry then
// reports what is wrong.
std::string FreeScratchPathBeside(const std::string& path, std::string_view purpose);

// Puts `scratch`, a finished file (or, with ReplaceMode::Create, a finished
// folder tree whose files are already flushed) that was written beside
// `target` in the same folder, at `target`: flushes it, renames it and
// flushes the folder. On failure the target is as it was (or still missing)
// and `scratch` is left for the caller to remove. A failure of the last
// flush is not reported: the target is replaced by then, and only its
// survival of a power cut is uncertain.
KR::ErrorCode ReplaceFile(const std::string& scratch, const std::string& target, ReplaceMode mode);

// Replaces `target` (a regular file, or nothing) by a copy of the file
// `source` with its permissions and times, in the same steps with a single
// flush of the copy: it is written beside the target under a scratch name
// for `purpose`, flushed, renamed over the target, and the folder flushed.
// On failure the target is as it was and the scratch copy is removed;
// ErrNotAFile for a target or source that is not a file.
KR::ErrorCode ReplaceFileWithCopy(const std::string& source, const std::string& target, std::string_view purpose);

// Whether `name` has the form of the scratch copies that IO::FileSystem::Copy
// and the copies over a file write (".<name>.copy-XXXXXX",
// ".<name>.sync-XXXXXX").
bool IsScratchName(std::string_view name) noexcept;

// Removes the scratch copy at `path` (a file or a folder with everything in
// it) that its writer abandoned: one killed or ended before it finished.
// A copy whose writer is still at work is held by it and left alone
// (ErrAlreadyOpen), and so is anything that cannot be locked to tell.
KR::ErrorCode RemoveAbandonedScratch(const std::string& path);

// Flushes the folder at `path` so that the entries made or renamed in it
// are on the disk.
KR::ErrorCode SyncFolder(const std::string& path);

}  // namespace IO
