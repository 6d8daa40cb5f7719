# Spatial references, points, extents, profiles and tile keys.
target_sources(VeltraGlobeTests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/GeoTest.cpp)
