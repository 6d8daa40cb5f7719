target_sources(VeltraGlobeTests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ConfigTest.cpp)
