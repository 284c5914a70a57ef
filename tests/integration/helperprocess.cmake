# The installed helper and command-line client as a desktop session runs them.
paneveil_add_test(tst_helperprocess
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_helperprocess.cpp
    LIBS paneveil_shared
    LABELS bus
    FIXTURES installed_tree
    TIMEOUT 300)
target_compile_definitions(tst_helperprocess PRIVATE
    PANEVEIL_INSTALLED_APP="${CMAKE_INSTALL_FULL_BINDIR}/paneveil"
    PANEVEIL_INSTALLED_HELPER="${PANEVEIL_HELPER_INSTALL_DIR}/com.zelquor.Paneveil.helper"
    PANEVEIL_INSTALLED_SERVICES="${CMAKE_INSTALL_FULL_DATADIR}/paneveil/dbus-1/services")
