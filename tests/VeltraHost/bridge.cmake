# A page of a running host driven as veltra.js drives it, over HTTP and a WebSocket, and the processes a host
# runs as /proc counts them; the host tests and the pages bench share them.
add_library(VeltraHostPageClient STATIC ${CMAKE_CURRENT_SOURCE_DIR}/PageClient.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ProcessCensus.cpp)
target_include_directories(VeltraHostPageClient PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(VeltraHostPageClient PUBLIC VeltraHostBridge Boost::headers JsonCpp::JsonCpp Threads::Threads)
veltra_warnings(VeltraHostPageClient)

veltra_add_test_suite(VeltraHostBridgeTests
    SOURCES
        ${CMAKE_CURRENT_SOURCE_DIR}/BridgeWirePartsTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/BridgeWireValueTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/FrameChannelTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/HostAppThreadsTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/HostPagesThreadsTest.cpp
    LIBRARIES VeltraHostApp VeltraHostPageClient)
# The whole host against the test plug-in, driven as a page would over HTTP and WebSocket.
target_compile_definitions(VeltraHostBridgeTests PRIVATE VELTRA_TEST_PLUGIN_LIBRARY="$<TARGET_FILE_NAME:npveltra_test>")
# A model reader that takes its time, for a slow loadfile in one page beside another page's calls.
veltra_add_osg_reader(veltraslow SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/slowreader/ReaderWriterSlow.cpp)
target_link_libraries(osgdb_veltraslow PRIVATE Veltra::OpenSceneGraph)
# In its default mode the host starts its page processes from the veltra-host program; the real plug-in
# reads the slow model.
add_dependencies(VeltraHostBridgeTests npveltra_test veltra-host npveltra osgdb_veltraslow)
veltra_add_test_suite(VeltraHostBridgeThreadsTests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/BridgePageCallsThreadsTest.cpp
    LIBRARIES VeltraHostBridge)
