add_executable(tarquell_core_tests
    tests/core/decode_test.cpp
    tests/core/sweep_test.cpp)
target_link_libraries(tarquell_core_tests PRIVATE tarquell_core GTest::gtest_main)
add_test(NAME core COMMAND tarquell_core_tests)

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/simdev.cpp)
    add_executable(tarquell-simdev tools/simdev.cpp)
endif()
add_executable(tarquell-genres tools/genres.cpp)
