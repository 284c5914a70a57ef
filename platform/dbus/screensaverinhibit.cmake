# Asking the session's screen-saver service to keep an idle display awake.
add_library(paneveil_dbus_screensaver_inhibit STATIC
    ${CMAKE_CURRENT_LIST_DIR}/SessionScreenSaverInhibitor.h ${CMAKE_CURRENT_LIST_DIR}/SessionScreenSaverInhibitor.cpp
)
target_include_directories(paneveil_dbus_screensaver_inhibit PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(paneveil_dbus_screensaver_inhibit PUBLIC paneveil_helper_core paneveil_shared Qt6::DBus)
