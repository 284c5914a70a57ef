# Owner authentication through PAM, and the PAM service file the install
# ships. The file goes under <prefix>/share/paneveil/pam.d always; an install
# run as root also copies it to /etc/pam.d, where PAM looks for services.
# Seen by the tests too, which run the shipped file.
set(PANEVEIL_PAM_SERVICE paneveil CACHE INTERNAL "Name of the PAM service the helper asks for")
set(PANEVEIL_PAM_SERVICE_FILE ${CMAKE_CURRENT_LIST_DIR}/pam/paneveil CACHE INTERNAL "The PAM service file the install ships")
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
install(FILES ${PANEVEIL_PAM_SERVICE_FILE}
    DESTINATION ${PANEVEIL_PAM_SHARE_DIR})
# Packaging (DESTDIR set) always gets the file under DESTDIR; a plain
# install copies it into the system only as root, and never when
# PANEVEIL_SKIP_PAM_INSTALL is set in the environment.
install(CODE "
    execute_process(COMMAND id -u OUTPUT_VARIABLE _uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(\"\$ENV{PANEVEIL_SKIP_PAM_INSTALL}\")
        message(STATUS \"Skipping the PAM service in ${PANEVEIL_PAM_SYSTEM_DIR} (PANEVEIL_SKIP_PAM_INSTALL)\")
    elseif(NOT \"\$ENV{DESTDIR}\" STREQUAL \"\" OR _uid STREQUAL \"0\")
        # file(INSTALL) puts DESTDIR in front by itself.
        file(INSTALL \"${PANEVEIL_PAM_SERVICE_FILE}\" DESTINATION \"${PANEVEIL_PAM_SYSTEM_DIR}\"
            FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    else()
        message(STATUS \"Not installing the PAM service into ${PANEVEIL_PAM_SYSTEM_DIR}: that needs root. \"
            \"As root: install -m 644 \${CMAKE_INSTALL_PREFIX}/${PANEVEIL_PAM_SHARE_DIR}/${PANEVEIL_PAM_SERVICE} ${PANEVEIL_PAM_SYSTEM_DIR}/\")
    endif()
")
