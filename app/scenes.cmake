# The app's two scenes: the tray icon with its popover, and the settings
# window. Sources taken here: Scenes/*.
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets Quick)

# Where the popover goes; Qt Core only.
add_library(paneveil_app_popoverplacement STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Scenes/PopoverPlacement.h ${CMAKE_CURRENT_LIST_DIR}/Scenes/PopoverPlacement.cpp)
target_include_directories(paneveil_app_popoverplacement PUBLIC ${CMAKE_CURRENT_LIST_DIR}/Scenes)
target_link_libraries(paneveil_app_popoverplacement PUBLIC Qt6::Core)

add_library(paneveil_app_scenes STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Scenes/SceneObjects.h
    ${CMAKE_CURRENT_LIST_DIR}/Scenes/MenuBarExtra.h ${CMAKE_CURRENT_LIST_DIR}/Scenes/MenuBarExtra.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Scenes/SettingsScene.h ${CMAKE_CURRENT_LIST_DIR}/Scenes/SettingsScene.cpp)
target_include_directories(paneveil_app_scenes PUBLIC ${CMAKE_CURRENT_LIST_DIR}/Scenes)
target_link_libraries(paneveil_app_scenes
    PUBLIC paneveil_app_views paneveil_app_core paneveil_app_popoverplacement Qt6::Widgets Qt6::Quick)

target_link_libraries(paneveil PRIVATE paneveil_app_scenes)
