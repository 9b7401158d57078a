enable_language(RC)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

set(TARQUELL_RESOURCES ${CMAKE_SOURCE_DIR}/res/tarquell.rc)
set_source_files_properties(${TARQUELL_RESOURCES} PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/res/resource.h;${CMAKE_SOURCE_DIR}/res/grid.bmp;${CMAKE_SOURCE_DIR}/res/tarquell.ico;${CMAKE_SOURCE_DIR}/res/tarquell_small.ico;${CMAKE_SOURCE_DIR}/res/tarquell.manifest")

# Everything but the entry point and the port itself, so that tests can drive
# the real windows in-process and swap the Win32 port for a scripted one.
add_library(tarquell_app STATIC
    ui/main_window.cpp
    ui/control_bar.cpp
    ui/trace_view.cpp
    ui/info_dialogs.cpp
    ui/scope_bar.cpp
    ui/history_view.cpp
    ui/file_read.cpp
    ui/layout.cpp
    ui/send_row.cpp
    ui/measure_view.cpp
    ui/picture_file.cpp
    serial/ports.cpp
    serial/acquisition.cpp
    serial/link.cpp
    serial/recording.cpp
    serial/save_folders.cpp
    serial/system_text.cpp)
target_include_directories(tarquell_app PUBLIC ui serial res)
target_link_libraries(tarquell_app PUBLIC tarquell_core comctl32 gdi32 user32 kernel32 setupapi cfgmgr32 winmm shell32 ole32 uuid windowscodecs)

add_executable(tarquell WIN32 ui/main.cpp serial/port_win32.cpp ${TARQUELL_RESOURCES})
target_link_libraries(tarquell PRIVATE tarquell_app)
target_link_options(tarquell PRIVATE -municode)

add_executable(tarquell_ui_tests
    tests/win/shell_test.cpp
    tests/win/trace_view_test.cpp
    tests/win/win_test_util.cpp
    tests/win/app_session.cpp
    serial/port_win32.cpp
    ${TARQUELL_RESOURCES})
target_link_libraries(tarquell_ui_tests PRIVATE tarquell_app GTest::gtest_main)
add_test(NAME ui COMMAND tarquell_ui_tests)

add_executable(tarquell_serial_tests
    tests/win/acquisition_test.cpp
    tests/win/fake_port.cpp
    tests/win/win_test_util.cpp
    tests/win/app_session.cpp
    ${TARQUELL_RESOURCES})
target_link_libraries(tarquell_serial_tests PRIVATE tarquell_app GTest::gtest_main)
add_test(NAME serial COMMAND tarquell_serial_tests)

# Tests against the real program on a pty-backed COM port.
add_executable(tarquell_e2e_tests tests/e2e/e2e_test.cpp tests/win/win_test_util.cpp)
target_include_directories(tarquell_e2e_tests PRIVATE res tests/win)
target_link_libraries(tarquell_e2e_tests PRIVATE GTest::gtest_main gdi32 gdiplus user32)
add_test(NAME e2e COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run-e2e
    $<TARGET_FILE:tarquell> $<TARGET_FILE:tarquell_e2e_tests> --gtest_filter=-Layout.*)
set_tests_properties(e2e PROPERTIES TIMEOUT 900)
# The layout at three scalings, each DPI on a prefix and a screen of its own.
foreach(scaling 96:1280x1024 144:1280x800 192:2560x1600)
    string(REPLACE ":" ";" scaling ${scaling})
    list(GET scaling 0 dpi)
    list(GET scaling 1 screen)
    add_test(NAME e2e-dpi${dpi} COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run-e2e --dpi ${dpi} ${screen}
        $<TARGET_FILE:tarquell> $<TARGET_FILE:tarquell_e2e_tests> --gtest_filter=Layout.*)
endforeach()

# The real port layer in-process, on a pty-backed COM port that run-e2e serves.
add_executable(tarquell_port_tests tests/port/port_test.cpp tests/win/win_test_util.cpp serial/port_win32.cpp)
target_include_directories(tarquell_port_tests PRIVATE tests/win)
target_link_libraries(tarquell_port_tests PRIVATE tarquell_app GTest::gtest_main)
add_test(NAME port COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run-e2e --work port
    $<TARGET_FILE:tarquell> $<TARGET_FILE:tarquell_port_tests>)

add_executable(tarquell-click tools/click.cpp)
target_include_directories(tarquell-click PRIVATE res)
target_link_options(tarquell-click PRIVATE -municode)

# bench: the driver scripts/bench measures the running program with (built
# only on request, like the benchmark itself).
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/bench_driver.cpp)
    add_executable(tarquell_bench_driver EXCLUDE_FROM_ALL bench/bench_driver.cpp)
    target_include_directories(tarquell_bench_driver PRIVATE res)
    target_link_libraries(tarquell_bench_driver PRIVATE gdi32 user32 psapi ntdll)
    target_link_options(tarquell_bench_driver PRIVATE -municode)
endif()
