# The app's transport to the helper: HelperBusClient on a bus thread of its
# own, behind the app core's HelperTransport interface.
add_library(paneveil_app_bus STATIC
    ${CMAKE_CURRENT_LIST_DIR}/BusHelperTransport.h ${CMAKE_CURRENT_LIST_DIR}/BusHelperTransport.cpp
)
target_include_directories(paneveil_app_bus PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(paneveil_app_bus PUBLIC paneveil_bus_client paneveil_app_core)
