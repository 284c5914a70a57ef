# System-wide hot keys as passive key grabs on the connection Qt reads.
add_library(paneveil_platform_hotkeys STATIC
    ${CMAKE_CURRENT_LIST_DIR}/XcbHotkeyGrabber.h ${CMAKE_CURRENT_LIST_DIR}/XcbHotkeyGrabber.cpp
)
target_include_directories(paneveil_platform_hotkeys PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(paneveil_platform_hotkeys
    PUBLIC paneveil_app_services_interfaces Qt6::Core
    PRIVATE Qt6::Gui PkgConfig::XCB)
