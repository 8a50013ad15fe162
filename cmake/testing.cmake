# GoogleTest is built from the source that Debian's googletest package ships,
# so the same code serves the native, the sanitizer and the MinGW builds.
set(TAVREL_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
if(MINGW)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
add_subdirectory(${TAVREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Each suite writes a JUnit-style XML report, which the test script adds up.
set(TAVREL_TEST_RESULTS "${CMAKE_BINARY_DIR}/test-results" CACHE PATH "Where suites write XML reports")
file(MAKE_DIRECTORY ${TAVREL_TEST_RESULTS})

# tavrel_add_gtest(NAME source... [LIBS lib...])
function(tavrel_add_gtest name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  set(report "${TAVREL_TEST_RESULTS}/${name}.xml")
  if(CMAKE_CROSSCOMPILING)
    # Under Wine, Unix paths are reached through drive Z:.
    set(report "Z:${report}")
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${report})
  # Suites that write files get a private scratch directory as their current directory.
  set(scratch "${CMAKE_BINARY_DIR}/test-scratch/${name}")
  file(MAKE_DIRECTORY ${scratch})
  set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY ${scratch} TIMEOUT 600)
  tavrel_skippable_on_host(${name})
endfunction()

# Under Wine, the emulator exits with 77 when this host cannot run the build's
# programs at all (a 32-bit build on a kernel without 32-bit support): the
# suite is then reported as skipped, with the emulator's reason, not failed.
function(tavrel_skippable_on_host name)
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
endfunction()
