target_sources(LibraryManagerObjects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ActiveLibraries.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ActiveLibraryList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Enumerate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ErrorHandler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileCount.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FolderSet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FoldersAndOtherObjects.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibraryEnumerator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibrarySet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibrarySetObserver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ModuleState.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OtherObjectList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReadAhead.cpp)
