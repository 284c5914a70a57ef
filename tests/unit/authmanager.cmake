paneveil_add_test(tst_authmanager SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_authmanager.cpp LIBS paneveil_helper_core)
