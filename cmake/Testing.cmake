include(GoogleTest)

# tl_add_test(<name> LABEL <label> SOURCES <files...>)
# One GoogleTest program per module; each test case becomes a CTest test
# carrying the label, and runs headless (offscreen video, null audio).
function(tl_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE tl_engine GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "SDL_VIDEODRIVER=offscreen;SDL_AUDIODRIVER=dummy;ALSOFT_DRIVERS=null;TL_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    DISCOVERY_TIMEOUT 60)
endfunction()
