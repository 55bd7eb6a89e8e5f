# The tests of the Windows build, run under Wine (ctest --preset windows): the core's unit tests
# that need nothing but the program's own interfaces and a temporary folder. The tests that
# fork, set resource limits or make FIFOs, sockets and FUSE mounts are Linux's; the programs'
# output under Wine is compared with Linux's by tools/test-windows.
#
# GoogleTest is built for Windows from Debian's source of it, without the project's warnings.
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main gmock gmock_main)
  if(TARGET ${target})
    target_compile_options(${target} PRIVATE -w)
  endif()
endforeach()
find_package(Qt6 REQUIRED COMPONENTS Test)

# Each test executable runs whole, under Wine, as one CTest test. It is built beside the Windows
# programs, as every executable of this build is, where it finds the Qt DLLs.
function(orvantis_add_windows_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "LIBS" ${ARGN})
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support)
  add_test(NAME windows.${name} COMMAND ${name})
  set_tests_properties(windows.${name} PROPERTIES TIMEOUT 300)
endfunction()

orvantis_add_windows_test(visibletext_test LIBS Orvantis::platform)
orvantis_add_windows_test(reportlist_test LIBS Orvantis::reportlist)
orvantis_add_windows_test(numberforms_test LIBS Orvantis::listsort)
orvantis_add_windows_test(dateforms_test LIBS Orvantis::listsort)
orvantis_add_windows_test(sortlistcolumn_test LIBS Orvantis::listsort)
orvantis_add_windows_test(levelreading_test LIBS Orvantis::scan_ini)
orvantis_add_windows_test(ranking_test LIBS Orvantis::formats)
orvantis_add_windows_test(getscores_test LIBS Orvantis::scan)
orvantis_add_windows_test(windowsfiles_test LIBS Orvantis::scan)
orvantis_add_windows_test(windowswatch_test OWN_MAIN LIBS Orvantis::scan_live Qt6::Test)
orvantis_add_windows_test(rankstatus_test LIBS Orvantis::console)
