# Paneveil end to end as a test user runs it: the installed app with its
# tray icon and popover, the helper the bus starts, PAM through the shipped
# service over the system's pam_unix, on Xvfb with xcompmgr and trayer.
# Included after pam.cmake (parts go in name order), which sets up the PAM
# test environment.
if(PANEVEIL_PAM_TEST_ENVIRONMENT)
    paneveil_add_test(tst_paneveil_e2e
        SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_paneveil_e2e.cpp
        LIBS paneveil_input_test_clients paneveil_shared PkgConfig::XCB
        LABELS "x11;bus;pam"
        FIXTURES installed_tree
        TIMEOUT 300)
    target_compile_definitions(tst_paneveil_e2e PRIVATE
        PANEVEIL_INSTALLED_APP="${CMAKE_INSTALL_FULL_BINDIR}/paneveil"
        PANEVEIL_INSTALLED_SERVICES="${CMAKE_INSTALL_FULL_DATADIR}/paneveil/dbus-1/services"
        PANEVEIL_INPUT_PROBE="$<TARGET_FILE:input_probe>"
        PANEVEIL_SCREENSHOT_DIR="${CMAKE_CURRENT_BINARY_DIR}/e2e-screenshots"
        PANEVEIL_ENSURE_TEST_USER="${PROJECT_SOURCE_DIR}/tests/support/ensure-test-user.sh")
    add_dependencies(tst_paneveil_e2e input_probe)
    set_property(TEST tst_paneveil_e2e APPEND PROPERTY ENVIRONMENT ${PANEVEIL_PAM_TEST_ENVIRONMENT})
endif()
