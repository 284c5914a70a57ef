# The installed sounds, decoded by sox and played by libcanberra into an
# ALSA device of the test's own.
add_executable(sound_probe ${CMAKE_CURRENT_SOURCE_DIR}/sound_probe.cpp)
target_link_libraries(sound_probe PRIVATE paneveil_canberra_sounds Qt6::Core)

paneveil_add_test(tst_sounds
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_sounds.cpp
    LIBS paneveil_canberra_sounds
    FIXTURES installed_tree)
add_dependencies(tst_sounds sound_probe)
