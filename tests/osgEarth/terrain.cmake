# Tests of the paged terrain: tile layout and paging (TerrainTiles*), and pictures of it (TerrainRender*).
target_sources(VeltraGlobeTests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/TerrainTilesTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TerrainRenderTest.cpp)
target_link_libraries(VeltraGlobeTests PRIVATE GDAL::GDAL)
