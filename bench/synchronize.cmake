# Synchronising a large library with its cache copy, against walking both trees.
lm_add_bench(synchronize SOURCES ${CMAKE_CURRENT_LIST_DIR}/SynchronizeBench.cpp LIBS LibraryManagerObjects)
target_include_directories(synchronize_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
