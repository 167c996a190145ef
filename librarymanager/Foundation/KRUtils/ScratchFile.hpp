// Scratch files: a file is replaced only by a complete new one.
//
// A ScratchFile is written beside its target under a hidden unique name
// (".<target name>.scratch-XXXXXX", created exclusively). MakePermanent
// closes it and puts it in place with IO::ReplaceFile (flush, atomic rename,
// folder flush), so readers, and the disk after a crash, see either the old
// file or the whole new one. Only a regular file (or nothing) is replaced: a
// folder, device, pipe, socket or symbolic link at the target is refused when
// the scratch file is made. A scratch file that is not made permanent is
// deleted when the object is destroyed.
#pragma once

#include "IO/File.hpp"

#include <string>

namespace IOUtil {

class ScratchFile : public IO::File {
public:
    explicit ScratchFile(const IO::Location& target);
    ScratchFile(const IO::Folder& folder, const IO::Name& name);
    ~ScratchFile() override;

    const IO::Location& GetTarget() const noexcept { return target_; }
    // 0 when the scratch file could be made; otherwise why not: ErrReadOnly
    // for a target inside a mounted file system, ErrNotLocal for a URL,
    // ErrBadLocation, ErrNotAFile for anything but a regular file (a folder,
    // device, pipe, socket or symbolic link), or the system's refusal.
    KR::ErrorCode GetStatus() const;
    // Replaces the target by the scratch file (closing it first when it is
    // open). 0 when done; the error of the first step that failed otherwise,
    // and then the target is as it was.
    KR::ErrorCode MakePermanent();
    bool IsPermanent() const noexcept { return permanent_; }

private:
    void Create();

    IO::Location target_;
    std::string targetPath_;
    std::string scratchPath_;  // empty when no scratch file was made
    KR::ErrorCode createError_ = KR::NoError;
    bool permanent_ = false;
};

}  // namespace IOUtil
