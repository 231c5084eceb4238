# Unit tests (GoogleTest from Debian's sources) and the test helpers.
enable_testing()

set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Plays the Java runtime in the tests: records how it was started and
# exits with the code its working directory's script prescribes.
add_executable(fakejava tests/fakejava/fakejava.cpp)
if(WIN32)
  # Like javaw: no console of its own.
  set_target_properties(fakejava PROPERTIES WIN32_EXECUTABLE ON)
endif()

file(GLOB UNIT_TEST_SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${UNIT_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE launcher_core GTest::gtest)
target_compile_definitions(unit_tests PRIVATE
  TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}/tests")
add_dependencies(unit_tests fakejava)
# One process for the whole binary: under Wine every start costs seconds.
add_test(NAME unit_tests COMMAND unit_tests)
# A loader that cannot run the binary may exit 0 having run nothing: only
# GoogleTest's own verdict counts.
set_tests_properties(unit_tests PROPERTIES
  PASS_REGULAR_EXPRESSION "\\[  PASSED  \\]" FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")

# Times the staged-update check for `make bench`.
add_executable(zipcheck_time bench/zipcheck_time.cpp)
target_link_libraries(zipcheck_time PRIVATE launcher_core)

if(WIN32)
  # Starts the launcher with no standard handles, as Explorer does.
  add_executable(nostd tests/nostd/nostd.cpp)
  add_dependencies(unit_tests nostd)
  # Reads a running program's console, for the debug console's tests.
  add_executable(consoleread tests/consoleread/consoleread.cpp)
  add_dependencies(unit_tests consoleread)
endif()
