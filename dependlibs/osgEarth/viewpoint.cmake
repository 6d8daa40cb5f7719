target_sources(VeltraGlobe PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/Viewpoint.cpp)
