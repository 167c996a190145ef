# Storing 1,000 parts one by one into enumerated tables of 20,000 and
# 200,000 parts.
lm_add_bench(store SOURCES ${CMAKE_CURRENT_LIST_DIR}/StoreBench.cpp LIBS LibraryManagerObjects)
target_include_directories(store_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
