# The input blocker against a real X server, and its outside clients.
add_executable(input_probe ${CMAKE_CURRENT_SOURCE_DIR}/input_probe.cpp)
target_link_libraries(input_probe PRIVATE PkgConfig::XCB)
add_executable(grab_holder ${CMAKE_CURRENT_SOURCE_DIR}/grab_holder.cpp)
target_link_libraries(grab_holder PRIVATE PkgConfig::XCB)

add_library(paneveil_input_test_clients STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/InputTestClients.h ${CMAKE_CURRENT_SOURCE_DIR}/InputTestClients.cpp)
target_include_directories(paneveil_input_test_clients PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(paneveil_input_test_clients PUBLIC Qt6::Test Qt6::Gui PkgConfig::XCB)

paneveil_add_test(tst_x11inputgrab
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_x11inputgrab.cpp
    LIBS paneveil_x11_inputgrab paneveil_input_test_clients
    LABELS x11
    TIMEOUT 180)
target_compile_definitions(tst_x11inputgrab PRIVATE
    PANEVEIL_INPUT_PROBE="$<TARGET_FILE:input_probe>"
    PANEVEIL_GRAB_HOLDER="$<TARGET_FILE:grab_holder>")
add_dependencies(tst_x11inputgrab input_probe grab_holder)

paneveil_add_test(tst_desktopnotificationprompt
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_desktopnotificationprompt.cpp ${CMAKE_CURRENT_SOURCE_DIR}/FakeNotifications.h
    LIBS paneveil_notification_prompt
    LABELS bus)

paneveil_add_test(tst_x11inputgrab_untrusted
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_x11inputgrab_untrusted.cpp ${CMAKE_CURRENT_SOURCE_DIR}/FakeNotifications.h
    LIBS paneveil_x11_inputgrab paneveil_notification_prompt paneveil_input_test_clients
    LABELS x11 bus)
