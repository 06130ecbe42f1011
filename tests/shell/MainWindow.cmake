# The main window with the offscreen platform, against a scripted service on 127.0.0.1.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
corvale_add_test(test_mainwindow
    SOURCES
        support/QtApplication.cpp
        MainWindowFixture.cpp MainWindowFixture.h
        MainWindowActionsTest.cpp
        MainWindowMessagesTest.cpp
        MainWindowOpsTest.cpp
        MainWindowShutdownTest.cpp
        MainWindowStartupTest.cpp
        WindowThreadGateTest.cpp
    LIBS corvale_mainwindow corvale_testsupport_qt
    LABELS shell)
set_target_properties(test_mainwindow PROPERTIES AUTOMOC ON)
target_include_directories(test_mainwindow PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(test_mainwindow PRIVATE
    CORVALE_MSG="$<TARGET_FILE:corvale-msg>"
    PLX_RECORDING_MODULE="$<TARGET_FILE:plx_recording>")
add_dependencies(test_mainwindow corvale-msg plx_recording)
