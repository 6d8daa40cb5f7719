veltra_add_test_suite(VeltraHostSiteTests
    SOURCES
        ${CMAKE_CURRENT_SOURCE_DIR}/SitePathsTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/SiteSecurityTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/SiteServerTest.cpp
    LIBRARIES VeltraHostSite)
