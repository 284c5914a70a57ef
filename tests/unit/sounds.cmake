# Sound names resolving to files, over a fake sound output.
paneveil_add_test(tst_namedsounds SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_namedsounds.cpp LIBS paneveil_helper_core)
