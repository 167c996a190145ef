target_sources(LibraryManagerObjects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/PartTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PartIndexes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SymbolAccessors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Parameters.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Proxy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PscBinCodes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PscBinCodesContainer.cpp)
