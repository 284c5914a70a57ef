# Peer identity read from executables: the check runs against small probe
# processes that carry (or lack) an .info_plist section.
function(paneveil_add_identity_probe name)
    add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/identity_probe.cpp)
    target_link_libraries(${name} PRIVATE paneveil_platform_linux)
    target_compile_definitions(${name} PRIVATE ${ARGN})
endfunction()

paneveil_add_identity_probe(identity_probe_helper_id PROBE_IDENTIFIER=PVConstants::helperBundleID)
paneveil_add_identity_probe(identity_probe_app_id PROBE_IDENTIFIER=PVConstants::appBundleID)
paneveil_add_identity_probe(identity_probe_without_section)
paneveil_add_identity_probe(identity_probe_oversized_section PROBE_OVERSIZED_SECTION)

paneveil_add_test(tst_executableidentity
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_executableidentity.cpp
    LIBS paneveil_platform_linux PkgConfig::PLIST)
add_dependencies(tst_executableidentity
    identity_probe_helper_id identity_probe_app_id
    identity_probe_without_section identity_probe_oversized_section)
target_compile_definitions(tst_executableidentity PRIVATE
    "IDENTITY_PROBE_HELPER_ID=\"$<TARGET_FILE:identity_probe_helper_id>\""
    "IDENTITY_PROBE_APP_ID=\"$<TARGET_FILE:identity_probe_app_id>\""
    "IDENTITY_PROBE_WITHOUT_SECTION=\"$<TARGET_FILE:identity_probe_without_section>\""
    "IDENTITY_PROBE_OVERSIZED_SECTION=\"$<TARGET_FILE:identity_probe_oversized_section>\"")
