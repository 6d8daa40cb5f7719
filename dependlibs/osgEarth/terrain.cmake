# The paged terrain: tile sources for the terrain layers, the tile builder and the pager's tile reader.
target_sources(VeltraGlobe PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/src/terrain/TerrainSourceFactory.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/terrain/GdalRaster.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/terrain/GdalSources.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/terrain/DebugImageSource.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/terrain/TerrainContext.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/terrain/TileBuilder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/terrain/PagedTileReader.cpp)
