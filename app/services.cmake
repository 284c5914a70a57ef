# The app's helper registration service and global hot keys.
# Sources taken here: Services/HelperService*, Services/HotkeyManager*,
# Services/HotkeyGrabber.h, ServicesForThisSystem.*, help/.
# (Models/* and Services/XPCClient* belong to another part.)

# The adapter interfaces alone, for the platform libraries that implement them.
add_library(paneveil_app_services_interfaces INTERFACE)
target_include_directories(paneveil_app_services_interfaces INTERFACE ${CMAKE_CURRENT_LIST_DIR}/Services)
target_link_libraries(paneveil_app_services_interfaces INTERFACE Qt6::Core)

# Core: no X11 or D-Bus in here.
add_library(paneveil_app_services STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Services/HelperServicePlatform.h
    ${CMAKE_CURRENT_LIST_DIR}/Services/HelperService.h ${CMAKE_CURRENT_LIST_DIR}/Services/HelperService.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Services/HotkeyGrabber.h
    ${CMAKE_CURRENT_LIST_DIR}/Services/HotkeyManager.h ${CMAKE_CURRENT_LIST_DIR}/Services/HotkeyManager.cpp
)
target_link_libraries(paneveil_app_services PUBLIC paneveil_app_services_interfaces paneveil_shared Qt6::Core)

# HelperService::createForThisSystem and HotkeyManager::createForThisSystem,
# on the installed layout this build was configured for.
file(RELATIVE_PATH _pv_relative_app_dir "${CMAKE_INSTALL_PREFIX}" "${PANEVEIL_APP_INSTALL_DIR}")
file(RELATIVE_PATH _pv_relative_helper_dir "${CMAKE_INSTALL_PREFIX}" "${PANEVEIL_HELPER_INSTALL_DIR}")
add_library(paneveil_app_services_system STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ServicesForThisSystem.h ${CMAKE_CURRENT_LIST_DIR}/ServicesForThisSystem.cpp
)
target_include_directories(paneveil_app_services_system PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(paneveil_app_services_system PRIVATE
    PANEVEIL_INSTALLED_APP_DIR="${PANEVEIL_APP_INSTALL_DIR}"
    PANEVEIL_INSTALLED_HELPER_DIR="${PANEVEIL_HELPER_INSTALL_DIR}"
    PANEVEIL_INSTALLED_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/paneveil"
    PANEVEIL_RELATIVE_APP_DIR="${_pv_relative_app_dir}"
    PANEVEIL_RELATIVE_HELPER_DIR="${_pv_relative_helper_dir}"
    PANEVEIL_RELATIVE_DATA_DIR="${CMAKE_INSTALL_DATADIR}/paneveil"
    PANEVEIL_APP_EXECUTABLE_NAME="$<TARGET_FILE_NAME:paneveil>")
target_link_libraries(paneveil_app_services_system
    PUBLIC paneveil_app_services Qt6::DBus
    PRIVATE paneveil_platform_loginitem paneveil_bus_desktop paneveil_platform_hotkeys)

# The page the permission banners open, one section per condition.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/help/permissions.html
    DESTINATION ${CMAKE_INSTALL_DATADIR}/paneveil/help)
