lm_add_bench(configuration SOURCES ${CMAKE_CURRENT_LIST_DIR}/ConfigurationBench.cpp LIBS LibraryManagerObjects)
# The error handler that ignores reports comes from the shared test support.
target_include_directories(configuration_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
