# Enumerating a generated library against the floor of a plain walk that
# opens, reads and closes every file (needs the lpf generator, which is
# built with the tools).
if(TARGET LpfGenerator)
  lm_add_bench(enumerate SOURCES ${CMAKE_CURRENT_LIST_DIR}/EnumerateBench.cpp LIBS LpfGenerator)
  # The error handler that ignores reports comes from the shared test support.
  target_include_directories(enumerate_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
endif()
