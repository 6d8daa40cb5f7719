# The map, its map node and terrain engine node, and the earth-file reader.
target_sources(VeltraGlobe PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/src/MapOptions.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/TerrainLayerOptions.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/Map.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/TerrainEngineNode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/MapNode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/EarthFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/EarthFileReader.cpp)
