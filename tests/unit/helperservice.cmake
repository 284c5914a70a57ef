# HelperService over fake login-item, presence and workspace adapters.
paneveil_add_test(tst_helperservice
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_helperservice.cpp ${CMAKE_CURRENT_SOURCE_DIR}/StderrCapture.h
    LIBS paneveil_app_services
    TIMEOUT 120)

# HotkeyManager over a fake grabber.
paneveil_add_test(tst_hotkeymanager
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_hotkeymanager.cpp
    LIBS paneveil_app_services)
