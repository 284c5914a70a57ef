# The views' computed texts on their own.
paneveil_add_test(tst_menubarpopovertext
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_menubarpopovertext.cpp
    LIBS paneveil_app_viewtext)
