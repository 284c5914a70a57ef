# The desktop notification that asks the user for a missing input permission.
add_library(paneveil_notification_prompt STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DesktopNotificationPrompt.h ${CMAKE_CURRENT_LIST_DIR}/DesktopNotificationPrompt.cpp
)
target_include_directories(paneveil_notification_prompt PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(paneveil_notification_prompt PUBLIC paneveil_helper_core paneveil_shared Qt6::DBus)
