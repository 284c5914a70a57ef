# The display-sleep assertion over fake platform services.
paneveil_add_test(tst_powermanager SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_powermanager.cpp LIBS paneveil_helper_core)
