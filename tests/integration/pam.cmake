# PAM conversations against a real PAM stack: pam_wrapper redirects the
# service files to a folder of the test's own, and pam_matrix keeps the
# passwords in a file the test writes.
find_library(PANEVEIL_PAM_WRAPPER_LIBRARY pam_wrapper)
find_file(PANEVEIL_PAM_MATRIX_MODULE pam_matrix.so PATH_SUFFIXES pam_wrapper
    PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE} /usr/lib)

if(PANEVEIL_PAM_WRAPPER_LIBRARY AND PANEVEIL_PAM_MATRIX_MODULE)
    set(_pam_test_dir ${CMAKE_CURRENT_BINARY_DIR}/pam-test)
    set(_pam_services ${_pam_test_dir}/services)
    # One password file per service: pam_matrix's account check reads only
    # the first line for a user and wants that line's service to match.
    set(_pam_passdb ${_pam_test_dir}/passdb)
    set(_matrix "${PANEVEIL_PAM_MATRIX_MODULE} passdb=${_pam_passdb}")
    set(_matrix_delay "${PANEVEIL_PAM_MATRIX_MODULE} passdb=${_pam_passdb}-delay")
    file(WRITE ${_pam_services}/paneveil-matrix "auth required ${_matrix}\naccount required ${_matrix}\n")
    # pam_faildelay asks for PAM's own failure delay, as pam_unix does.
    file(WRITE ${_pam_services}/paneveil-delay "auth optional pam_faildelay.so delay=3000000\n"
        "auth required ${_matrix_delay}\naccount required ${_matrix_delay}\n")
    file(WRITE ${_pam_services}/paneveil-broken "auth required /nonexistent/pam_paneveil_missing.so\n")
    # The account check refuses after a right password.
    file(WRITE ${_pam_services}/paneveil-noaccount "auth required ${_matrix}\naccount required pam_deny.so\n")
    # The service file the install ships, over the system's own common
    # stacks (pam_unix on Debian), for the helper run as a test user.
    configure_file(${PANEVEIL_PAM_SERVICE_FILE}
        ${_pam_services}/${PANEVEIL_PAM_SERVICE} COPYONLY)
    foreach(_common common-auth common-account)
        if(EXISTS /etc/pam.d/${_common})
            configure_file(/etc/pam.d/${_common} ${_pam_services}/${_common} COPYONLY)
        endif()
    endforeach()
    # Global, for the unlock benchmark too.
    set(PANEVEIL_PAM_TEST_ENVIRONMENT
        "LD_PRELOAD=${PANEVEIL_PAM_WRAPPER_LIBRARY}" "PAM_WRAPPER=1" "PAM_WRAPPER_SERVICE_DIR=${_pam_services}"
        CACHE INTERNAL "Environment that puts PAM calls on the test services")
    set(PANEVEIL_PAM_TEST_PASSDB ${_pam_passdb} CACHE INTERNAL "pam_matrix password file of the test services")

    paneveil_add_test(tst_pamconversation
        SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_pamconversation.cpp
        LIBS paneveil_platform_pam
        LABELS pam)
    target_compile_definitions(tst_pamconversation PRIVATE PANEVEIL_PAM_PASSDB="${_pam_passdb}")
    set_property(TEST tst_pamconversation APPEND PROPERTY ENVIRONMENT ${PANEVEIL_PAM_TEST_ENVIRONMENT})
else()
    message(WARNING "pam_wrapper or pam_matrix not found: the PAM tests are not built (install libpam-wrapper)")
endif()
