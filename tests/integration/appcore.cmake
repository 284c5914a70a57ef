# The app's model and helper client against the installed helper on a
# private bus, and against scripted stand-ins for it.
foreach(_pv_peer scripted_helper_peer impostor_helper_peer)
    add_executable(${_pv_peer} ${CMAKE_CURRENT_LIST_DIR}/scripted_helper_peer.cpp)
    target_link_libraries(${_pv_peer} PRIVATE paneveil_bus_common Qt6::DBus)
endforeach()
# Only one of the two carries the helper's identity.
paneveil_embed_helper_identity(scripted_helper_peer)

paneveil_add_test(tst_helperclient_bus
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_helperclient_bus.cpp ${CMAKE_CURRENT_LIST_DIR}/HelperCallMonitor.h
    LIBS paneveil_app_bus paneveil_app_core
    LABELS bus
    FIXTURES installed_tree
    TIMEOUT 300)
target_include_directories(tst_helperclient_bus PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
# It calls the real helper, which admits only the app.
paneveil_embed_app_identity(tst_helperclient_bus)
add_dependencies(tst_helperclient_bus scripted_helper_peer impostor_helper_peer)
target_compile_definitions(tst_helperclient_bus PRIVATE
    PANEVEIL_SCRIPTED_PEER="$<TARGET_FILE:scripted_helper_peer>"
    PANEVEIL_IMPOSTOR_PEER="$<TARGET_FILE:impostor_helper_peer>"
    PANEVEIL_INSTALLED_SERVICES="${CMAKE_INSTALL_FULL_DATADIR}/paneveil/dbus-1/services")

# The running app's wake-ups once the helper answers; prints its figures.
add_executable(bench_app_idle ${CMAKE_SOURCE_DIR}/bench/bench_app_idle.cpp)
target_link_libraries(bench_app_idle PRIVATE paneveil_test_support Qt6::DBus)
target_compile_definitions(bench_app_idle PRIVATE
    PANEVEIL_INSTALLED_APP="${CMAKE_INSTALL_FULL_BINDIR}/paneveil"
    PANEVEIL_INSTALLED_SERVICES="${CMAKE_INSTALL_FULL_DATADIR}/paneveil/dbus-1/services")
add_test(NAME bench_app_idle COMMAND bench_app_idle 60)
set_tests_properties(bench_app_idle PROPERTIES LABELS benchmark TIMEOUT 300
    FIXTURES_REQUIRED installed_tree)

# The installed app's start-up, hot keys and refusals, as a session runs it.
paneveil_add_test(tst_appstartup
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_appstartup.cpp ${CMAKE_CURRENT_LIST_DIR}/HelperCallMonitor.h
    LIBS paneveil_shared
    LABELS bus
    FIXTURES installed_tree
    TIMEOUT 300)
target_include_directories(tst_appstartup PRIVATE ${CMAKE_SOURCE_DIR}/platform/dbus)
target_compile_definitions(tst_appstartup PRIVATE
    PANEVEIL_INSTALLED_APP="${CMAKE_INSTALL_FULL_BINDIR}/paneveil"
    PANEVEIL_INSTALLED_SERVICES="${CMAKE_INSTALL_FULL_DATADIR}/paneveil/dbus-1/services")
