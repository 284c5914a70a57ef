# The overlay window and screen watching on X11, over the helper's own xcb
# connection (Qt's).
add_library(paneveil_platform_x11_overlay STATIC
    ${CMAKE_CURRENT_LIST_DIR}/X11Overlay.h ${CMAKE_CURRENT_LIST_DIR}/X11Overlay.cpp
    ${CMAKE_CURRENT_LIST_DIR}/X11OverlayWindow.h ${CMAKE_CURRENT_LIST_DIR}/X11OverlayWindow.cpp
    ${CMAKE_CURRENT_LIST_DIR}/X11ScreenLayout.h ${CMAKE_CURRENT_LIST_DIR}/X11ScreenLayout.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QtScreenChangeSource.h ${CMAKE_CURRENT_LIST_DIR}/QtScreenChangeSource.cpp
)
target_include_directories(paneveil_platform_x11_overlay PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(paneveil_platform_x11_overlay
    PUBLIC paneveil_helper_core Qt6::Gui
    PRIVATE PkgConfig::XCB)
