# The session bus for the app's registration service: is a helper running,
# reread activation files, show a file in the file manager.
add_library(paneveil_bus_desktop STATIC
    ${CMAKE_CURRENT_LIST_DIR}/SessionBusDesktop.h ${CMAKE_CURRENT_LIST_DIR}/SessionBusDesktop.cpp
)
target_include_directories(paneveil_bus_desktop PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(paneveil_bus_desktop
    PUBLIC paneveil_app_services_interfaces paneveil_shared Qt6::DBus
    PRIVATE paneveil_platform_loginitem)
