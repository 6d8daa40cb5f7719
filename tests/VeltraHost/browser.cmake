veltra_add_test_suite(VeltraHostBrowserTests
    SOURCES
        ${CMAKE_CURRENT_SOURCE_DIR}/BrowserHostFunctionsTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/BrowserPluginInfoTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/BrowserPluginThreadsTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/HostProgramRun.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/PluginLocatorTest.cpp
    LIBRARIES VeltraHostBrowser)
# The plug-in tests load both plug-in libraries through their exports, as the host program does.
target_compile_definitions(VeltraHostBrowserTests PRIVATE
    VELTRA_TEST_PLUGIN_LIBRARY="$<TARGET_FILE_NAME:npveltra_test>"
    VELTRA_PLUGIN_LIBRARY="$<TARGET_FILE_NAME:npveltra>"
    VELTRA_HOST_PROGRAM="$<TARGET_FILE_NAME:veltra-host>")
# The plug-in information and locator tests run the host program itself.
add_dependencies(VeltraHostBrowserTests npveltra_test npveltra veltra-host)
