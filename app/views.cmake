# The app's Qt Quick views (popover and settings window), their icons, and
# the bridge that hands them the view texts. Sources taken here:
# Views/AppViews.*, Views/qml/*, Views/icons/*, Views/views.qrc.
find_package(Qt6 6.4 REQUIRED COMPONENTS Qml Quick)
add_library(paneveil_app_views STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Views/AppViews.h ${CMAKE_CURRENT_LIST_DIR}/Views/AppViews.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Views/views.qrc
)
target_include_directories(paneveil_app_views PUBLIC ${CMAKE_CURRENT_LIST_DIR}/Views)
target_link_libraries(paneveil_app_views
    PUBLIC Qt6::Qml Qt6::Quick paneveil_app_viewtext paneveil_app_core)
