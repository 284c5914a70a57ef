paneveil_add_test(tst_helperbuslistener
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_helperbuslistener.cpp
    LIBS paneveil_bus_listener paneveil_bus_client
    LABELS bus)
