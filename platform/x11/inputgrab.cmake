# The input-grab adapter: the helper's input blocker on X11.
add_library(paneveil_x11_inputgrab STATIC
    ${CMAKE_CURRENT_LIST_DIR}/X11InputGrab.h ${CMAKE_CURRENT_LIST_DIR}/X11InputGrab.cpp
)
target_include_directories(paneveil_x11_inputgrab PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(paneveil_x11_inputgrab PUBLIC paneveil_helper_core Qt6::Gui PRIVATE PkgConfig::XCB)
