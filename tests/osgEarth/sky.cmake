target_sources(VeltraGlobeTests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DateTimeTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SkyTest.cpp)
