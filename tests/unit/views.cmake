# The popover and the settings window, loaded off screen on the real models
# with fake helper, login-item and desktop adapters; each saves screenshots
# under view-screenshots/ in the build folder.
find_package(Qt6 6.4 REQUIRED COMPONENTS Quick)
paneveil_add_test(tst_menubarpopover
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_menubarpopover.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ViewTestSupport.h
        ${CMAKE_CURRENT_LIST_DIR}/FakeHelperTransport.h ${CMAKE_CURRENT_LIST_DIR}/FakeRegistration.h
    LIBS paneveil_app_views Qt6::Quick Qt6::Gui)
paneveil_add_test(tst_settingsview
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_settingsview.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ViewTestSupport.h
        ${CMAKE_CURRENT_LIST_DIR}/FakeHelperTransport.h ${CMAKE_CURRENT_LIST_DIR}/FakeRegistration.h
    LIBS paneveil_app_views Qt6::Quick Qt6::Gui)
# The tests hand the views what the app's scenes hand them.
foreach(viewTest tst_menubarpopover tst_settingsview)
    target_include_directories(${viewTest} PRIVATE ${CMAKE_SOURCE_DIR}/app/Scenes)
endforeach()
