# The sky: a UTC date-time, the sun's ephemeris, the sky node and its "simple" and "gl" drivers.
target_sources(VeltraGlobe PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/src/DateTime.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/SunEphemeris.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/SkyNode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/SkyGeometry.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/SimpleSkyNode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/GLSkyNode.cpp)
