paneveil_add_test(tst_lockmanager SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_lockmanager.cpp LIBS paneveil_helper_core)
