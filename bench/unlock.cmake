# Unlock latency: from the Return key in the unlock dialog to the overlay
# gone and input released, with PAM's own share measured apart.
if(PANEVEIL_PAM_TEST_ENVIRONMENT)
    find_package(Qt6 6.4 REQUIRED COMPONENTS Quick)
    add_executable(bench_unlock ${CMAKE_CURRENT_SOURCE_DIR}/bench_unlock.cpp)
    target_link_libraries(bench_unlock PRIVATE paneveil_helper_core paneveil_platform_pam paneveil_x11_unlockdialog
        paneveil_x11_inputgrab paneveil_platform_x11_overlay paneveil_input_test_clients paneveil_test_support
        Qt6::Gui Qt6::Quick Qt6::Test)
    target_compile_definitions(bench_unlock PRIVATE PANEVEIL_PAM_PASSDB="${PANEVEIL_PAM_TEST_PASSDB}")
    add_test(NAME bench_unlock COMMAND bench_unlock 20)
    set_tests_properties(bench_unlock PROPERTIES LABELS benchmark TIMEOUT 300
        ENVIRONMENT "${PANEVEIL_PAM_TEST_ENVIRONMENT}")
endif()
