# Lock latency and CPU per swallowed event, against xtrlock on the same Xvfb.
add_executable(bench_input_grab ${CMAKE_CURRENT_SOURCE_DIR}/bench_input_grab.cpp)
target_link_libraries(bench_input_grab PRIVATE paneveil_x11_inputgrab Qt6::Test PkgConfig::XCB)
add_test(NAME bench_input_grab COMMAND bench_input_grab 100000)
set_tests_properties(bench_input_grab PROPERTIES LABELS benchmark TIMEOUT 300)
# xtrlock refuses root; as root the benchmark runs it as this account.
add_test(NAME ensure_bench_user COMMAND ${PROJECT_SOURCE_DIR}/tests/support/ensure-test-user.sh pvbench)
set_tests_properties(ensure_bench_user PROPERTIES FIXTURES_SETUP bench_user)
set_tests_properties(bench_input_grab PROPERTIES FIXTURES_REQUIRED bench_user)
