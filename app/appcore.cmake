# The app's settings store, lock state model and helper client.
# Sources taken here: Models/*, Services/XPCClient*, Services/HelperTransport.h,
# PaneveilApp.*, and the app's start-up in main.cpp.
# (Services/HelperService*, Services/HotkeyManager*, Services/HotkeyGrabber.h
# and ServicesForThisSystem.* belong to services.cmake.)


# Core: no X11 or D-Bus in here; the helper is reached through HelperTransport.
file(GLOB _pv_app_models CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_LIST_DIR}/Models/*.h ${CMAKE_CURRENT_LIST_DIR}/Models/*.cpp)
add_library(paneveil_app_core STATIC
    ${_pv_app_models}
    ${CMAKE_CURRENT_LIST_DIR}/Services/HelperTransport.h
    ${CMAKE_CURRENT_LIST_DIR}/Services/XPCClient.h ${CMAKE_CURRENT_LIST_DIR}/Services/XPCClient.cpp
)
target_include_directories(paneveil_app_core PUBLIC
    ${CMAKE_CURRENT_LIST_DIR}/Models ${CMAKE_CURRENT_LIST_DIR}/Services)
target_link_libraries(paneveil_app_core PUBLIC paneveil_app_services paneveil_shared Qt6::Core)

# `paneveil` with no arguments runs the app itself.
target_sources(paneveil PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/PaneveilApp.h ${CMAKE_CURRENT_LIST_DIR}/PaneveilApp.cpp)
target_link_libraries(paneveil PRIVATE
    paneveil_app_core paneveil_app_bus paneveil_app_services_system paneveil_platform_x11 Qt6::Widgets)
