# Building the type hierarchy of a large library: a few hundred types up to
# eight levels deep, some declared in a revision that is not present.
lm_add_bench(typehierarchy SOURCES ${CMAKE_CURRENT_LIST_DIR}/TypeHierarchyBench.cpp LIBS LibraryManagerObjects)
target_include_directories(typehierarchy_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
