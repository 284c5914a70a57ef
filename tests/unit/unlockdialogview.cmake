# The unlock dialog's view on its own, drawn off screen.
find_package(Qt6 6.4 REQUIRED COMPONENTS Quick)
paneveil_add_test(tst_unlockdialogview
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_unlockdialogview.cpp
    LIBS paneveil_x11_unlockdialog Qt6::Quick Qt6::Gui)
