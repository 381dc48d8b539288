find_package(GTest REQUIRED)
include(GoogleTest)

# Test executables a build leaves out: defined (so that their directories still configure) but
# neither built nor run. A package build names here what its build cannot link or run, and says
# why where it sets it.
set(KOV_TESTS_LEFT_OUT "" CACHE STRING "Test executables to leave out of the build and of ctest")

# kov_add_test(NAME name SOURCES ... LIBS ... [ENV ...])
# One test executable; its GoogleTest cases are registered with CTest one by one.
function(kov_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  kov_target_options(${T_NAME})
  if(T_NAME IN_LIST KOV_TESTS_LEFT_OUT)
    set_target_properties(${T_NAME} PROPERTIES EXCLUDE_FROM_ALL ON)
    message(STATUS "${T_NAME}: left out (KOV_TESTS_LEFT_OUT)")
    return()
  endif()
  # A parameterised case is named by its row's name alone: no printed parameter values, which
  # can hold addresses that change with every build, so that ctest -R picks a row by name.
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    NO_PRETTY_VALUES
    PROPERTIES ENVIRONMENT "${T_ENV}" TIMEOUT 300)
endfunction()
