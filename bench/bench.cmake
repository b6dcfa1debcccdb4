# Benchmarks: built with everything else so that they keep compiling, never run by ctest.
# `cmake --build build --target bench` runs them (the SSH benchmark needs root: it makes its own
# test account).
add_executable(ssh_bench ${CMAKE_SOURCE_DIR}/bench/ssh_bench.cc ${CMAKE_SOURCE_DIR}/bench/bench_support.cc)
target_link_libraries(ssh_bench PRIVATE ssh wrenfield_test_support)

add_custom_target(bench COMMAND ssh_bench COMMAND server_bench USES_TERMINAL)
add_dependencies(bench ssh_bench server_bench)

# The HTTP server: wrk load on an asset and a status request, TCP_NODELAY on and off, and
# "/api/list" against the bare ssh run.
add_executable(server_bench ${CMAKE_SOURCE_DIR}/bench/server_bench.cc ${CMAKE_SOURCE_DIR}/bench/bench_support.cc)
target_link_libraries(server_bench PRIVATE server wrenfield_test_server_support)

# Streaming: 1 GiB each way through the real program beside the bare `ssh cat` pipe, with the
# peak memory of the program and of the remote python3 (needs root, like ssh_bench).
add_executable(stream_bench ${CMAKE_SOURCE_DIR}/bench/stream_bench.cc ${CMAKE_SOURCE_DIR}/bench/bench_support.cc)
target_link_libraries(stream_bench PRIVATE ssh wrenfield_test_support)
add_dependencies(stream_bench wrenfield)
add_custom_target(stream_bench_run COMMAND stream_bench USES_TERMINAL)
add_dependencies(stream_bench_run stream_bench)

# The page at real sizes: big folders and big Markdown files in headless Chromium against the
# program and the tests' local sshd (node; playwright-core and Debian's chromium, as the browser
# tests use them).
add_custom_target(page_bench_run
  COMMAND ${CMAKE_COMMAND} -E env WRENFIELD_BIN=$<TARGET_FILE:wrenfield> node ${CMAKE_SOURCE_DIR}/bench/page_bench.mjs
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} USES_TERMINAL)
add_dependencies(page_bench_run wrenfield)

# Browsing while transfers run: the reply times of status, list and read beside a slow download
# and a stalled upload (the tests' local sshd; no root needed).
add_executable(browse_bench ${CMAKE_SOURCE_DIR}/bench/browse_bench.cc ${CMAKE_SOURCE_DIR}/bench/bench_support.cc)
target_link_libraries(browse_bench PRIVATE server wrenfield_test_server_support)

# The server at its limits: a fresh request beside 300 slow keep-alive clients (no sshd).
add_executable(limits_bench ${CMAKE_SOURCE_DIR}/bench/limits_bench.cc)
target_link_libraries(limits_bench PRIVATE server wrenfield_test_server_support)

# Big listings through the real program: time to the first byte and to the end, and the program's
# peak memory, beside `ls -la` and the listing program run by hand (needs root, like ssh_bench).
add_executable(listing_bench ${CMAKE_SOURCE_DIR}/bench/listing_bench.cc ${CMAKE_SOURCE_DIR}/bench/bench_support.cc)
target_link_libraries(listing_bench PRIVATE ssh wrenfield_test_support)
add_dependencies(listing_bench wrenfield)
