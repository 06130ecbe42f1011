# The main window and the program entry, kept apart from the shell's components: the library
# corvale_mainwindow, the program `corvale`, and `corvale-msg`, which sends the client a
# window message as other programs do.
find_package(Qt6 REQUIRED COMPONENTS Widgets Network)
add_library(corvale_mainwindow STATIC
    ActionButton.cpp ActionButton.h
    ActionList.cpp ActionList.h
    fMain.cpp fMain.h fMainActions.cpp fMainLayout.cpp fMainMessages.cpp
    fMainWindowOps.cpp fMainWindowOps.h
    LinkLabel.cpp LinkLabel.h
    LocalMessageServer.cpp LocalMessageServer.h
    MenuItem.cpp MenuItem.h
    StatusPanels.cpp StatusPanels.h
    WindowThreadGate.cpp WindowThreadGate.h)
set_target_properties(corvale_mainwindow PROPERTIES AUTOMOC ON)
target_link_libraries(corvale_mainwindow PUBLIC
    corvale_common corvale_shell corvale_settings corvale_core corvale_platform
    Qt6::Widgets Qt6::Network)

add_executable(corvale corvale.cpp)
target_link_libraries(corvale PRIVATE corvale_common corvale_mainwindow)

add_executable(corvale-msg corvale-msg.cpp)
target_link_libraries(corvale-msg PRIVATE corvale_common corvale_platform)

include(GNUInstallDirs)
install(TARGETS corvale corvale-msg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT corvale)
install(FILES corvale.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    COMPONENT corvale)
install(FILES icons/tray.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    RENAME corvale.svg COMPONENT corvale)
