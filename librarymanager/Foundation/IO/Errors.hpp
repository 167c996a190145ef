// Error codes of the input/output library (0x810102xx).
#pragma once

#include "KR/Definitions.hpp"

namespace IO {

inline constexpr KR::ErrorCode ErrBadLocation = KR::MakeErrorCode(0x81010201u);    // empty, relative or malformed location
inline constexpr KR::ErrorCode ErrNotLocal = KR::MakeErrorCode(0x81010202u);       // a URL where a local location is needed
inline constexpr KR::ErrorCode ErrBadName = KR::MakeErrorCode(0x81010203u);        // empty name, ".", ".." or a name with '/'
inline constexpr KR::ErrorCode ErrNotFound = KR::MakeErrorCode(0x81010204u);       // nothing at the location
inline constexpr KR::ErrorCode ErrAccessDenied = KR::MakeErrorCode(0x81010205u);   // the system refused access
inline constexpr KR::ErrorCode ErrAlreadyExists = KR::MakeErrorCode(0x81010206u);  // the entry to create is already there
inline constexpr KR::ErrorCode ErrNotAFolder = KR::MakeErrorCode(0x81010207u);
inline constexpr KR::ErrorCode ErrNotAFile = KR::MakeErrorCode(0x81010208u);
inline constexpr KR::ErrorCode ErrReadOnly = KR::MakeErrorCode(0x81010209u);       // a write into a mounted file system
inline constexpr KR::ErrorCode ErrNotOpen = KR::MakeErrorCode(0x8101020Au);
inline constexpr KR::ErrorCode ErrAlreadyOpen = KR::MakeErrorCode(0x8101020Bu);
inline constexpr KR::ErrorCode ErrWrongOpenMode = KR::MakeErrorCode(0x8101020Cu);  // a read on a file opened for writing, or back
inline constexpr KR::ErrorCode ErrSystem = KR::MakeErrorCode(0x8101020Du);         // any other failure of the operating system
inline constexpr KR::ErrorCode ErrNotInside = KR::MakeErrorCode(0x8101020Eu);      // a location that is not below the other
inline constexpr KR::ErrorCode ErrAlreadyMounted = KR::MakeErrorCode(0x8101020Fu);
inline constexpr KR::ErrorCode ErrNotMounted = KR::MakeErrorCode(0x81010210u);
inline constexpr KR::ErrorCode ErrDamagedArchive = KR::MakeErrorCode(0x81010211u); // a container file that cannot be read
inline constexpr KR::ErrorCode ErrTooLarge = KR::MakeErrorCode(0x81010212u);       // an entry too large to serve from memory
inline constexpr KR::ErrorCode ErrNoTrash = KR::MakeErrorCode(0x81010213u);        // the trash folder cannot be used
inline constexpr KR::ErrorCode ErrDiskFull = KR::MakeErrorCode(0x81010214u);
inline constexpr KR::ErrorCode ErrNotSupported = KR::MakeErrorCode(0x81010215u);   // an intact entry stored in a way this reader cannot read (compression method, encryption)

}  // namespace IO
