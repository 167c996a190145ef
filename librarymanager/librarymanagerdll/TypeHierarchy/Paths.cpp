// The module's one instantiation of the path tree, compiled and exported
// here so that users of the module's library link against it.
#include "TypeHierarchy/PathsImpl.hpp"

namespace KR {

template class Paths<UnID, Cmp_UnIDs>;

}  // namespace KR
