paneveil_add_test(tst_overlaywindowmanager
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_overlaywindowmanager.cpp ${CMAKE_CURRENT_SOURCE_DIR}/FakeOverlayAdapters.h
    LIBS paneveil_helper_core)
