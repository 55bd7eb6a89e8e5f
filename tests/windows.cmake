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

# Two test programs, each run whole under Wine as one CTest test, built beside the Windows
# programs, as every executable of this build is, where they find the Qt DLLs. Each is compiled
# as one unit, at -O1, as the Linux tests are.
function(orvantis_add_windows_tests name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} support/core_test_main.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support)
  orvantis_compile_as_one_unit(${name})
  target_compile_options(${name} PRIVATE -O1)
  add_test(NAME windows.${name} COMMAND ${name})
  set_tests_properties(windows.${name} PROPERTIES TIMEOUT 300)
endfunction()

# Code that runs on the calling thread alone.
orvantis_add_windows_tests(windows_unit_tests
  SOURCES visibletext_test.cpp reportlist_test.cpp numberforms_test.cpp dateforms_test.cpp
          sortlistcolumn_test.cpp levelreading_test.cpp ranking_test.cpp rankstatus_test.cpp
  LIBS Orvantis::listsort Orvantis::formats Orvantis::console)
# The scan and the watch on Windows' own file calls.
orvantis_add_windows_tests(windows_scan_tests
  SOURCES getscores_test.cpp windowsfiles_test.cpp windowswatch_test.cpp
  LIBS Orvantis::scan Orvantis::scan_live)
