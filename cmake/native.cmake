add_executable(tarquell_core_tests tests/core/core_test.cpp)
target_link_libraries(tarquell_core_tests PRIVATE tarquell_core GTest::gtest_main)
add_test(NAME core COMMAND tarquell_core_tests)

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/simdev.cpp)
    add_executable(tarquell-simdev tools/simdev.cpp)
endif()
add_executable(tarquell-genres tools/genres.cpp)

# bench: the core's own benchmark, where Google Benchmark is installed
# (scripts/bench builds it; the tests do not need it).
find_package(benchmark QUIET)
if(benchmark_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/bench/core_bench.cpp)
    add_executable(tarquell_core_bench EXCLUDE_FROM_ALL bench/core_bench.cpp)
    target_link_libraries(tarquell_core_bench PRIVATE tarquell_core benchmark::benchmark)
endif()
