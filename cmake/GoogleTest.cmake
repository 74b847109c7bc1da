# GoogleTest from Debian's source package, built for whichever target this is.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# A test program of ours, run as one ctest entry: one process (under Wine, one
# Wine start) for all its cases. Each case's result goes to <target>.xml beside
# it, which scripts/test counts case by case.
function(zelt_gtest target)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  zelt_options(${target})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  # GoogleTest's header is most of each test file's compile time.
  target_precompile_headers(${target} PRIVATE <gtest/gtest.h>)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${target} COMMAND ${target} --gtest_output=xml:${target}.xml
           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(${target} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()
