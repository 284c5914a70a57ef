# Where the popover opens, for trays on every edge and for the pointer.
paneveil_add_test(tst_popoverplacement
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_popoverplacement.cpp
    LIBS paneveil_app_popoverplacement)
