paneveil_add_test(tst_settingspayload SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_settingspayload.cpp LIBS paneveil_shared PkgConfig::PLIST)
