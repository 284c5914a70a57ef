# What the views say, as plain functions of the models' values.
# Sources taken here: Views/MenuBarPopoverText.*.
# Core: Qt Core only.
add_library(paneveil_app_viewtext STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Views/MenuBarPopoverText.h ${CMAKE_CURRENT_LIST_DIR}/Views/MenuBarPopoverText.cpp)
target_include_directories(paneveil_app_viewtext PUBLIC ${CMAKE_CURRENT_LIST_DIR}/Views)
target_link_libraries(paneveil_app_viewtext PUBLIC paneveil_app_services paneveil_shared Qt6::Core)
