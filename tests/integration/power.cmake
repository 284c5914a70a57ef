# The display-sleep assertion against Xvfb's screen saver and a stand-in
# session screen-saver service on a private bus.
paneveil_add_test(tst_displaysleep_x11
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_displaysleep_x11.cpp
    LIBS paneveil_x11_screensaver paneveil_helper_core PkgConfig::XCB
    LABELS x11
    TIMEOUT 180)
target_include_directories(tst_displaysleep_x11 PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)

paneveil_add_test(tst_screensaverinhibit_bus
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_screensaverinhibit_bus.cpp
    LIBS paneveil_dbus_screensaver_inhibit Qt6::DBus)
target_include_directories(tst_screensaverinhibit_bus PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
