# Hot keys through the real X11 grabber on Xvfb, pressed with XTest while
# another client has the focus.
paneveil_add_test(tst_hotkeys
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_hotkeys.cpp
    LIBS paneveil_app_services_system paneveil_platform_hotkeys Qt6::Gui PkgConfig::XCB
    LABELS x11)
