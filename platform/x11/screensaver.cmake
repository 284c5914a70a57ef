# Suspending the X screen saver (and DPMS) while the display must stay awake.
add_library(paneveil_x11_screensaver STATIC
    ${CMAKE_CURRENT_LIST_DIR}/X11ScreenSaverSuspend.h ${CMAKE_CURRENT_LIST_DIR}/X11ScreenSaverSuspend.cpp
)
target_include_directories(paneveil_x11_screensaver PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(paneveil_x11_screensaver PUBLIC paneveil_helper_core PRIVATE PkgConfig::XCB)
