# The app's two scenes: the tray icon with its popover, and the settings
# window. Sources taken here: Scenes/*.
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets Quick)

# Where the popover goes; Qt Core only.
add_library(paneveil_app_popoverplacement STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Scenes/PopoverPlacement.h ${CMAKE_CURRENT_LIST_DIR}/Scenes/PopoverPlacement.cpp)
target_include_directories(paneveil_app_popoverplacement PUBLIC ${CMAKE_CURRENT_LIST_DIR}/Scenes)
target_link_libraries(paneveil_app_popoverplacement PUBLIC Qt6::Core)
