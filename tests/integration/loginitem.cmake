# Registering the installed helper in temporary XDG folders, with a private
# bus that starts it from the user's activation folder.
paneveil_add_test(tst_loginitem
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_loginitem.cpp
    LIBS paneveil_app_services_system paneveil_platform_loginitem paneveil_bus_desktop Qt6::DBus
    LABELS bus
    FIXTURES installed_tree
    TIMEOUT 300)
target_compile_definitions(tst_loginitem PRIVATE PANEVEIL_TEST_PREFIX="${CMAKE_INSTALL_PREFIX}")
