# Third-party libraries, all from Debian 12 packages (scripts/install-deps.sh installs them).

find_package(OpenSceneGraph 3.6 REQUIRED COMPONENTS osgDB osgGA osgUtil osgViewer osgText osgWidget OpenThreads)
# FindOpenSceneGraph gives variables, not targets: wrap them once so targets can link by name.
if(NOT TARGET Veltra::OpenSceneGraph)
    add_library(Veltra::OpenSceneGraph INTERFACE IMPORTED)
    set_target_properties(Veltra::OpenSceneGraph PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${OPENSCENEGRAPH_INCLUDE_DIRS}"
        INTERFACE_LINK_LIBRARIES "${OPENSCENEGRAPH_LIBRARIES}")
endif()

find_package(OpenGL REQUIRED)
find_package(CURL REQUIRED)
find_package(jsoncpp CONFIG REQUIRED)
find_package(Threads REQUIRED)
find_package(utf8cpp CONFIG REQUIRED)
find_package(GDAL CONFIG REQUIRED)
find_package(Boost 1.74 REQUIRED)

if(VELTRA_BUILD_TESTS)
    find_package(GTest CONFIG REQUIRED)
    include(GoogleTest)
endif()
if(VELTRA_BUILD_BENCHMARKS)
    find_package(benchmark CONFIG REQUIRED)
endif()
