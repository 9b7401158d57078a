# The libFuzzer targets of tests/fuzz, on a core built with the same
# sanitizers (the fuzz preset sets them). Each test runs its target over the
# committed seeds and what scripts/fuzz kept, then over 50,000 inputs grown
# from them with a fixed seed, so that a known crash fails the tests.
file(GLOB fuzz_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*.cpp)
foreach(source ${fuzz_sources})
    get_filename_component(target ${source} NAME_WE)
    add_executable(fuzz_${target} ${source})
    target_link_libraries(fuzz_${target} PRIVATE tarquell_core)
    target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/corpus/${target})
    add_test(NAME fuzz-${target} COMMAND fuzz_${target} -runs=50000 -seed=1 -artifact_prefix=${CMAKE_BINARY_DIR}/${target}-
        ${CMAKE_BINARY_DIR}/corpus/${target} ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${target})
endforeach()
