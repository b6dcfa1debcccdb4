# Every tests/*_test.cc is one GoogleTest program; tests/support holds the shared fixtures
# (the local OpenSSH server, the program launcher). The page's pure modules are tested by
# tests/web/*.test.mjs and the page itself by tests/browser/*.test.mjs, both run by Node's test
# runner; window tests are tests/window/*.test.sh, run under Xvfb.
find_package(GTest REQUIRED)
include(GoogleTest)

# The shared fixtures sit on the ssh layer (they start processes through its runner and open
# connections); the in-process server, which needs the server layer, is a library of its own.
file(GLOB TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cc)
list(REMOVE_ITEM TEST_SUPPORT_SOURCES ${CMAKE_SOURCE_DIR}/tests/support/in_process_server.cc)
add_library(wrenfield_test_support STATIC ${TEST_SUPPORT_SOURCES})
target_include_directories(wrenfield_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(wrenfield_test_support PUBLIC ssh GTest::gtest PkgConfig::HTTPLIB)
target_compile_definitions(wrenfield_test_support PUBLIC
  WRENFIELD_BIN="$<TARGET_FILE:wrenfield>"
  WRENFIELD_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  WRENFIELD_BUILD_DIR="${CMAKE_BINARY_DIR}")

add_library(wrenfield_test_server_support STATIC ${CMAKE_SOURCE_DIR}/tests/support/in_process_server.cc)
target_link_libraries(wrenfield_test_server_support PUBLIC wrenfield_test_support server)

# The layer each test exercises, and so the library it links and the headers it sees. Every
# test is named in exactly one list; a test named in none stops the configuration. Tests of base
# need no fixtures.
set(WRENFIELD_BASE_TESTS text_test json_reader_test)
set(WRENFIELD_CONFIG_TESTS keys_test ssh_config_test)
set(WRENFIELD_SSH_TESTS process_test connection_test remote_format_test remote_test
  safe_write_test file_system_edges_test sshd_fixture_test program_launcher_test)
set(WRENFIELD_SERVER_TESTS http_connection_test server_dispatch_test server_records_test
  server_replies_test server_routes_test server_streaming_test url_test peer_owner_test)
set(WRENFIELD_APP_TESTS app_test)

file(GLOB UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cc)
foreach(test_source ${UNIT_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  set(test_layers "")
  foreach(layer BASE CONFIG SSH SERVER APP)
    if(test_name IN_LIST WRENFIELD_${layer}_TESTS)
      list(APPEND test_layers ${layer})
    endif()
  endforeach()
  list(LENGTH test_layers layer_count)
  if(NOT layer_count EQUAL 1)
    message(FATAL_ERROR "${test_source}: name the test in exactly one of the layer lists of "
      "tests/tests.cmake (it is in ${layer_count})")
  endif()
  add_executable(${test_name} ${test_source})
  if(test_layers STREQUAL "BASE")
    target_link_libraries(${test_name} PRIVATE base GTest::gtest)
  elseif(test_layers STREQUAL "CONFIG")
    target_link_libraries(${test_name} PRIVATE config wrenfield_test_support)
  elseif(test_layers STREQUAL "SSH")
    target_link_libraries(${test_name} PRIVATE ssh wrenfield_test_support)
  else()
    # The app's own code is compiled into its test below; it sees the server's headers.
    target_link_libraries(${test_name} PRIVATE server wrenfield_test_server_support)
  endif()
  target_link_libraries(${test_name} PRIVATE GTest::gtest_main)
  add_dependencies(${test_name} wrenfield)
  gtest_discover_tests(${test_name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 600)
endforeach()

# Each file matching `pattern` is one test named prefix_<file name>, run by Node's test runner
# from the source directory.
function(add_node_tests prefix pattern timeout environment)
  file(GLOB sources CONFIGURE_DEPENDS ${pattern})
  foreach(test_source ${sources})
    get_filename_component(test_name ${test_source} NAME_WE)
    add_test(NAME ${prefix}_${test_name}
             COMMAND node --test --test-reporter=spec ${test_source}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
    set_tests_properties(${prefix}_${test_name} PROPERTIES TIMEOUT ${timeout}
      ENVIRONMENT "${environment}")
  endforeach()
endfunction()

# The unit tests name dates as the en-US locale writes them.
add_node_tests(web ${CMAKE_SOURCE_DIR}/tests/web/*.test.mjs 60 "LC_ALL=en_US.UTF-8")
add_node_tests(browser ${CMAKE_SOURCE_DIR}/tests/browser/*.test.mjs 600
  "WRENFIELD_BIN=$<TARGET_FILE:wrenfield>;WRENFIELD_BUILD_DIR=${CMAKE_BINARY_DIR}")

# The remote python3 programs run directly, without ssh: tests/*_test.py, Python's unittest.
file(GLOB PROGRAM_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.py)
foreach(test_source ${PROGRAM_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_test(NAME ${test_name} COMMAND python3 -B ${test_source})
  set_tests_properties(${test_name} PROPERTIES TIMEOUT 300)
endforeach()

file(GLOB WINDOW_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/window/*.test.sh)
foreach(test_source ${WINDOW_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_test(NAME window_${test_name} COMMAND bash ${test_source}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(window_${test_name} PROPERTIES TIMEOUT 600
    ENVIRONMENT "WRENFIELD_BIN=$<TARGET_FILE:wrenfield>;WRENFIELD_BUILD_DIR=${CMAKE_BINARY_DIR}")
endforeach()

# The shell's argument scan lives in the program, not in a library; its test compiles it in
# and sees the app layer's headers.
if(TARGET app_test)
  target_sources(app_test PRIVATE ${CMAKE_SOURCE_DIR}/src/app/arguments.cc)
  target_include_directories(app_test PRIVATE ${WRENFIELD_LAYER_ROOTS}/app)
endif()
