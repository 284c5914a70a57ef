# The identity property lists and launch files that paneveil-gen (tools/)
# writes: checked with the ecosystem's validators, and read back out of built
# executables. Needs desktop-file-validate (desktop-file-utils) and
# systemd-analyze (systemd).
paneveil_read_constant(helperBundleID generated_helper_id)
set(generated_autostart ${PANEVEIL_GENERATED_DIR}/autostart/${generated_helper_id}.desktop)
set(installed_unit
    ${CMAKE_INSTALL_FULL_DATADIR}/paneveil/systemd/user/${generated_helper_id}.service)

# desktop-file-validate exits 0 on warnings; they count as failures here.
add_test(NAME tst_generated_autostart_validates
    COMMAND desktop-file-validate ${generated_autostart})
set_tests_properties(tst_generated_autostart_validates PROPERTIES
    LABELS generated FAIL_REGULAR_EXPRESSION "error:;warning:")

# systemd-analyze checks that ExecStart exists, so it reads the installed
# unit, which points into the installed tree.
if(TARGET paneveil_helper)
    add_test(NAME tst_generated_unit_verifies
        COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tst_generated_verify_unit.sh ${installed_unit})
    set_tests_properties(tst_generated_unit_verifies PROPERTIES
        LABELS generated FIXTURES_REQUIRED installed_tree
        PASS_REGULAR_EXPRESSION "unit check passed"
        FAIL_REGULAR_EXPRESSION "unit check failed")
endif()

# The unit check has to be able to fail: a unit with an unknown key (only a
# warning to systemd-analyze by default) and one whose program is missing.
set(broken_units_dir ${CMAKE_CURRENT_BINARY_DIR}/tst_generated_broken_units)
file(CONFIGURE OUTPUT ${broken_units_dir}/unknown-key/${generated_helper_id}.service CONTENT
    "[Service]\nTyp=dbus\nExecStart=/bin/true\n")
file(CONFIGURE OUTPUT ${broken_units_dir}/missing-program/${generated_helper_id}.service CONTENT
    "[Service]\nExecStart=${broken_units_dir}/no-such-program\n")
foreach(case unknown-key missing-program)
    add_test(NAME tst_generated_unit_check_rejects_${case}
        COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tst_generated_verify_unit.sh
            ${broken_units_dir}/${case}/${generated_helper_id}.service)
    # The pass expression overrides the exit status: the test passes only if
    # the script reports the failure.
    set_tests_properties(tst_generated_unit_check_rejects_${case} PROPERTIES
        LABELS generated PASS_REGULAR_EXPRESSION "unit check failed")
endforeach()

# Stand-ins for the helper and the app, linked with --gc-sections, which the
# embedded sections must survive although nothing refers to them.
foreach(role helper app)
    add_executable(tst_generated_fixture_${role} ${CMAKE_CURRENT_SOURCE_DIR}/tst_generated_fixture_main.cpp)
    target_compile_options(tst_generated_fixture_${role} PRIVATE -ffunction-sections -fdata-sections)
    target_link_options(tst_generated_fixture_${role} PRIVATE -Wl,--gc-sections)
endforeach()
paneveil_embed_helper_identity(tst_generated_fixture_helper)
paneveil_embed_app_identity(tst_generated_fixture_app)

paneveil_add_test(tst_generated_identity
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_generated_identity.cpp
    LIBS PkgConfig::PLIST PkgConfig::LIBELF
    LABELS generated)
target_include_directories(tst_generated_identity PRIVATE ${CMAKE_SOURCE_DIR}/shared)
add_dependencies(tst_generated_identity
    tst_generated_fixture_helper tst_generated_fixture_app paneveil-gen paneveil_generated_files)

set(generated_identity_environment
    "PANEVEIL_GENERATED_DIR=${PANEVEIL_GENERATED_DIR}"
    "PANEVEIL_INSTALL_PREFIX=${CMAKE_INSTALL_PREFIX}"
    "PANEVEIL_HELPER_INSTALL_DIR=${PANEVEIL_HELPER_INSTALL_DIR}"
    "PANEVEIL_PROJECT_VERSION=${PROJECT_VERSION}"
    "PANEVEIL_GEN=$<TARGET_FILE:paneveil-gen>")
set_property(TEST tst_generated_identity APPEND PROPERTY ENVIRONMENT
    ${generated_identity_environment}
    "PANEVEIL_HELPER_EXECUTABLE=$<TARGET_FILE:tst_generated_fixture_helper>"
    "PANEVEIL_APP_EXECUTABLE=$<TARGET_FILE:tst_generated_fixture_app>")

# The same checks on the real programs, which must also be named as their
# Info.plists say.
if(TARGET paneveil_helper AND TARGET paneveil)
    add_test(NAME tst_generated_identity_programs COMMAND tst_generated_identity)
    set_tests_properties(tst_generated_identity_programs PROPERTIES
        LABELS generated TIMEOUT 120
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${generated_identity_environment};PANEVEIL_HELPER_EXECUTABLE=$<TARGET_FILE:paneveil_helper>;PANEVEIL_APP_EXECUTABLE=$<TARGET_FILE:paneveil>;PANEVEIL_CHECK_EXECUTABLE_NAMES=1")
endif()
