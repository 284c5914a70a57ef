# The overlay window on a real X server (Xvfb), with and without xcompmgr,
# with RandR monitors added and removed.
paneveil_add_test(tst_overlayx11
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_overlayx11.cpp
    LIBS paneveil_platform_x11_overlay paneveil_input_test_clients Qt6::Gui PkgConfig::XCB
    LABELS x11
    TIMEOUT 300)
