# The app's settings store, helper client and lock state model, on fakes.
paneveil_add_test(tst_appsettings
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_appsettings.cpp
    LIBS paneveil_app_core PkgConfig::PLIST)
paneveil_add_test(tst_xpcclient
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_xpcclient.cpp ${CMAKE_CURRENT_LIST_DIR}/FakeHelperTransport.h
    LIBS paneveil_app_core)
paneveil_add_test(tst_lockstate
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_lockstate.cpp ${CMAKE_CURRENT_LIST_DIR}/FakeHelperTransport.h
        ${CMAKE_CURRENT_LIST_DIR}/FakeRegistration.h
    LIBS paneveil_app_core)
