// Scratch files: a file is replaced only by a complete new one.
//
// A ScratchFile is written beside its target under a hidden unique name
// (".<target name>.scratch-XXXXXX", created exclusively). MakePermanent
// flushes it to disk, closes it and renames it over the target in one atomic
// step (then flushes the folder), so readers see either the old file or the
// whole new one. A scratch file that is not made permanent is deleted when
// the object is destroyed.
#pragma once

#include "IO/File.hpp"

namespace IOUtil {

class ScratchFile : public IO::File {
public:
    explicit ScratchFile(const IO::Location& target);
    ScratchFile(const IO::Folder& folder, const IO::Name& name);
    ~ScratchFile() override;

    const IO::Location& GetTarget() const noexcept { return target_; }
    // 0 when the scratch file could be made (GetStatus tells the same).
    KR::ErrorCode MakePermanent();
    bool IsPermanent() const noexcept { return permanent_; }

private:
    void Create();

    IO::Location target_;
    bool permanent_ = false;
};

}  // namespace IOUtil
