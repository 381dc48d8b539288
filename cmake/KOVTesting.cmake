find_package(GTest REQUIRED)
include(GoogleTest)

# kov_add_test(NAME name SOURCES ... LIBS ... [ENV ...])
# One test executable; its GoogleTest cases are registered with CTest one by one.
function(kov_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  kov_target_options(${T_NAME})
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "${T_ENV}" TIMEOUT 300)
endfunction()
