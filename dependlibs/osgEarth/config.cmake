# Configuration trees, optional values and text conversions.
target_sources(VeltraGlobe PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/src/StringUtils.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/Config.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/ConfigJson.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/ConfigXml.cpp)
