veltra_add_test_suite(VeltraHostDemoTests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/DemoBuildingTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/DemoGlobeTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ProjectSiteTest.cpp
    LIBRARIES VeltraDemo Veltra::SolvoEarthKits Veltra::VeltraGlobe GDAL::GDAL JsonCpp::JsonCpp)
# The site test runs the real program.
add_dependencies(VeltraHostDemoTests veltra-demo-site)
target_compile_definitions(VeltraHostDemoTests PRIVATE VELTRA_DEMO_SITE_PROGRAM="$<TARGET_FILE_NAME:veltra-demo-site>")
