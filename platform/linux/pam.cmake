# Owner authentication through PAM, and the PAM service file the install
# ships. The file goes under <prefix>/share/paneveil/pam.d always; an install
# run as root also copies it to /etc/pam.d, where PAM looks for services.
set(PANEVEIL_PAM_SERVICE paneveil)
find_library(PANEVEIL_PAM_LIBRARY pam REQUIRED)

add_library(paneveil_platform_pam STATIC
    ${CMAKE_CURRENT_LIST_DIR}/PamConversation.h ${CMAKE_CURRENT_LIST_DIR}/PamConversation.cpp
)
target_include_directories(paneveil_platform_pam PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(paneveil_platform_pam PRIVATE PANEVEIL_PAM_SERVICE="${PANEVEIL_PAM_SERVICE}")
target_link_libraries(paneveil_platform_pam PUBLIC paneveil_helper_core Qt6::Core PRIVATE ${PANEVEIL_PAM_LIBRARY})

# PAM reads /etc/pam.d whatever the install prefix is.
set(PANEVEIL_PAM_SYSTEM_DIR "/etc/pam.d" CACHE PATH "Where an install run as root puts the PAM service file")
set(PANEVEIL_PAM_SHARE_DIR "${CMAKE_INSTALL_DATADIR}/paneveil/pam.d")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/pam/${PANEVEIL_PAM_SERVICE}
    DESTINATION ${PANEVEIL_PAM_SHARE_DIR})
install(CODE "
    set(_pam_source \"\$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${PANEVEIL_PAM_SHARE_DIR}/${PANEVEIL_PAM_SERVICE}\")
    set(_pam_dir \"\$ENV{DESTDIR}${PANEVEIL_PAM_SYSTEM_DIR}\")
    execute_process(COMMAND id -u OUTPUT_VARIABLE _uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(_uid STREQUAL \"0\" AND NOT \"\$ENV{PANEVEIL_SKIP_PAM_INSTALL}\")
        message(STATUS \"Installing: \${_pam_dir}/${PANEVEIL_PAM_SERVICE}\")
        file(INSTALL \"\${_pam_source}\" DESTINATION \"\${_pam_dir}\")
    else()
        message(STATUS \"Not installing the PAM service into \${_pam_dir} (needs root); copy \${_pam_source} there\")
    endif()
")
