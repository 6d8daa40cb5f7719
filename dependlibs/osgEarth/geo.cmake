# Spatial references, points, extents, profiles and tile keys.
target_sources(VeltraGlobe PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/src/SpatialReference.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/GeoPoint.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/GeoExtent.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/Profile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/TileKey.cpp)
