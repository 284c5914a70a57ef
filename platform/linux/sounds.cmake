# The helper's lock and unlock sounds: synthesised at build time by
# paneveil-sound-gen, installed into the project's data folder and played by
# absolute file name through libcanberra.
pkg_check_modules(CANBERRA REQUIRED IMPORTED_TARGET libcanberra)

set(PANEVEIL_SOUND_INSTALL_DIR "${CMAKE_INSTALL_FULL_DATADIR}/paneveil/sounds")

add_executable(paneveil-sound-gen ${CMAKE_CURRENT_LIST_DIR}/paneveil_sound_gen.cpp)
target_link_libraries(paneveil-sound-gen PRIVATE paneveil_helper_core)

# The files are named after the sounds the lock manager plays, which only
# the generator knows; a stamp stands for them.
set(PANEVEIL_SOUND_BUILD_DIR ${CMAKE_BINARY_DIR}/generated/sounds CACHE INTERNAL "Folder of the generated sounds")
add_custom_command(
    OUTPUT ${PANEVEIL_SOUND_BUILD_DIR}/sounds.stamp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PANEVEIL_SOUND_BUILD_DIR}
    COMMAND paneveil-sound-gen ${PANEVEIL_SOUND_BUILD_DIR}
    COMMAND ${CMAKE_COMMAND} -E touch ${PANEVEIL_SOUND_BUILD_DIR}/sounds.stamp
    DEPENDS paneveil-sound-gen
    COMMENT "Synthesising the lock and unlock sounds"
    VERBATIM)
add_custom_target(paneveil_sounds ALL DEPENDS ${PANEVEIL_SOUND_BUILD_DIR}/sounds.stamp)
install(DIRECTORY ${PANEVEIL_SOUND_BUILD_DIR}/ DESTINATION ${PANEVEIL_SOUND_INSTALL_DIR}
    FILES_MATCHING PATTERN "*.wav")

add_library(paneveil_canberra_sounds STATIC
    ${CMAKE_CURRENT_LIST_DIR}/CanberraSoundOutput.h ${CMAKE_CURRENT_LIST_DIR}/CanberraSoundOutput.cpp
)
target_include_directories(paneveil_canberra_sounds PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(paneveil_canberra_sounds PRIVATE PANEVEIL_SOUND_DIR="${PANEVEIL_SOUND_INSTALL_DIR}")
target_link_libraries(paneveil_canberra_sounds PUBLIC paneveil_helper_core paneveil_shared Qt6::Core
    PRIVATE PkgConfig::CANBERRA)
add_dependencies(paneveil_canberra_sounds paneveil_sounds)
