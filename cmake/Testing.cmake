include(GoogleTest)

# tl_add_test(<name> LABEL <label> SOURCES <files...>)
# One GoogleTest program per module; each test case becomes a CTest test
# carrying the label, and runs headless (offscreen video, null audio).
function(tl_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/test_main.cpp)
  # Test programs lie one folder below the laid-out working folder, so the
  # program's own rule (its folder, else the parent) finds the data.
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-bin)
  target_link_libraries(${name} PRIVATE tl_engine GTest::gtest)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
