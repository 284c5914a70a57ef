# The unlock dialog: a Qt Quick view shown by the helper over the overlay.
find_package(Qt6 6.4 REQUIRED COMPONENTS Qml Quick)
add_library(paneveil_x11_unlockdialog STATIC
    ${CMAKE_CURRENT_LIST_DIR}/X11UnlockDialog.h ${CMAKE_CURRENT_LIST_DIR}/X11UnlockDialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/unlockdialog/unlockdialog.qrc
)
target_include_directories(paneveil_x11_unlockdialog PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(paneveil_x11_unlockdialog
    PUBLIC paneveil_helper_core paneveil_x11_inputgrab Qt6::Gui
    PRIVATE Qt6::Qml Qt6::Quick PkgConfig::XCB)
