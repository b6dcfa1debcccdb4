# Every tests/*_test.cc is one GoogleTest program; tests/support holds the shared fixtures
# (the local OpenSSH server, the program launcher). Browser tests are tests/browser/*.test.mjs,
# run by Node's test runner; window tests are tests/window/*.test.sh, run under Xvfb.
find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cc)
add_library(wrenfield_test_support STATIC ${TEST_SUPPORT_SOURCES})
target_include_directories(wrenfield_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(wrenfield_test_support PUBLIC wrenfield_core GTest::gtest)
target_compile_definitions(wrenfield_test_support PUBLIC
  WRENFIELD_BIN="$<TARGET_FILE:wrenfield>"
  WRENFIELD_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

file(GLOB UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cc)
foreach(test_source ${UNIT_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_executable(${test_name} ${test_source})
  target_link_libraries(${test_name} PRIVATE wrenfield_test_support GTest::gtest_main)
  add_dependencies(${test_name} wrenfield)
  gtest_discover_tests(${test_name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 600)
endforeach()

# The remote python3 programs run directly, without ssh: tests/*_test.py, Python's unittest.
file(GLOB PROGRAM_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.py)
foreach(test_source ${PROGRAM_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_test(NAME ${test_name} COMMAND python3 -B ${test_source})
  set_tests_properties(${test_name} PROPERTIES TIMEOUT 300)
endforeach()

file(GLOB BROWSER_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/browser/*.test.mjs)
foreach(test_source ${BROWSER_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_test(NAME browser_${test_name}
           COMMAND node --test --test-reporter=spec ${test_source}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(browser_${test_name} PROPERTIES TIMEOUT 600
    ENVIRONMENT "WRENFIELD_BIN=$<TARGET_FILE:wrenfield>;WRENFIELD_BUILD_DIR=${CMAKE_BINARY_DIR}")
endforeach()

file(GLOB WINDOW_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/window/*.test.sh)
foreach(test_source ${WINDOW_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_test(NAME window_${test_name} COMMAND bash ${test_source}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(window_${test_name} PROPERTIES TIMEOUT 600
    ENVIRONMENT "WRENFIELD_BIN=$<TARGET_FILE:wrenfield>;WRENFIELD_BUILD_DIR=${CMAKE_BINARY_DIR}")
endforeach()

# The shell's argument scan lives in the program, not in the core; its test compiles it in.
if(TARGET app_test)
  target_sources(app_test PRIVATE ${CMAKE_SOURCE_DIR}/src/app/arguments.cc)
endif()
