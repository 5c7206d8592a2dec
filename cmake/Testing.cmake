include(GoogleTest)

# The tests' own working folder: a copy of the shipped one made afresh on
# every build, so that no test reads what a user changed in the working
# folder beside the program, nor writes there.
set(TL_TEST_WORK_DIR ${CMAKE_BINARY_DIR}/test-work)
add_custom_target(tl_test_data ALL
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/data ${TL_TEST_WORK_DIR}
  COMMENT "Copying the shipped working folder for the tests")

# tl_add_test(<name> LABEL <label> SOURCES <files...>)
# One GoogleTest program per module; each test case becomes a CTest test
# carrying the label, and runs headless (offscreen video, null audio).
function(tl_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/test_main.cpp)
  # Test programs lie one folder below the tests' working folder, so the
  # program's own rule (its folder, else the parent) finds the data.
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TL_TEST_WORK_DIR}/test-bin)
  add_dependencies(${name} tl_test_data)
  target_link_libraries(${name} PRIVATE tl_engine GTest::gtest)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${TL_TEST_WORK_DIR}
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
