# The login-item service on an XDG desktop: the helper's launch files copied
# into the user's folders, and the desktop's opener. No bus in here; the
# caller hands in how to ask the bus to reload.
add_library(paneveil_platform_loginitem STATIC
    ${CMAKE_CURRENT_LIST_DIR}/XdgLoginItemService.h ${CMAKE_CURRENT_LIST_DIR}/XdgLoginItemService.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DesktopOpener.h ${CMAKE_CURRENT_LIST_DIR}/DesktopOpener.cpp
)
target_include_directories(paneveil_platform_loginitem PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(paneveil_platform_loginitem PUBLIC paneveil_app_services_interfaces paneveil_shared Qt6::Core)
