# Unlocking on Xvfb end to end: the lock composed as the helper composes it,
# in a program of its own (unlock_lock_helper), with PAM through pam_wrapper.
add_executable(unlock_lock_helper ${CMAKE_CURRENT_SOURCE_DIR}/unlock_lock_helper.cpp)
target_link_libraries(unlock_lock_helper PRIVATE paneveil_helper_core paneveil_platform_pam paneveil_x11_unlockdialog
    paneveil_x11_inputgrab paneveil_platform_x11_overlay Qt6::Gui)

if(PANEVEIL_PAM_TEST_ENVIRONMENT)
    paneveil_add_test(tst_unlockdialog_x11
        SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_unlockdialog_x11.cpp
        LIBS paneveil_input_test_clients PkgConfig::XCB
        LABELS x11 pam
        TIMEOUT 300)
    target_compile_definitions(tst_unlockdialog_x11 PRIVATE
        PANEVEIL_UNLOCK_LOCK_HELPER="$<TARGET_FILE:unlock_lock_helper>"
        PANEVEIL_INPUT_PROBE="$<TARGET_FILE:input_probe>"
        PANEVEIL_PAM_PASSDB="${CMAKE_CURRENT_BINARY_DIR}/pam-test/passdb"
        PANEVEIL_SCREENSHOT_DIR="${CMAKE_CURRENT_BINARY_DIR}/screenshots"
        PANEVEIL_ENSURE_TEST_USER="${PROJECT_SOURCE_DIR}/tests/support/ensure-test-user.sh")
    add_dependencies(tst_unlockdialog_x11 unlock_lock_helper input_probe)
    set_property(TEST tst_unlockdialog_x11 APPEND PROPERTY ENVIRONMENT ${PANEVEIL_PAM_TEST_ENVIRONMENT})
endif()
