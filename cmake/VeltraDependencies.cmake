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

# IFC models: Debian's IFC++ (reader, IFC4 entities with IFC2x3 mapping, Carve geometry). It ships no
# CMake package; its libraries live in their own folder.
find_path(IFCPP_INCLUDE_DIR ifcpp/reader/ReaderSTEP.h REQUIRED)
find_library(IFCPP_LIBRARY IfcPlusPlus PATHS /usr/lib/ifcplusplus REQUIRED)
find_library(IFCPP_CARVE_LIBRARY carve PATHS /usr/lib/ifcplusplus REQUIRED)
if(NOT TARGET Veltra::IfcPlusPlus)
    add_library(Veltra::IfcPlusPlus INTERFACE IMPORTED)
    # Its headers include one another as "ifcpp/..." and as siblings of ifcpp/.
    set_target_properties(Veltra::IfcPlusPlus PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${IFCPP_INCLUDE_DIR};${IFCPP_INCLUDE_DIR}/ifcpp"
        INTERFACE_LINK_LIBRARIES "${IFCPP_LIBRARY};${IFCPP_CARVE_LIBRARY}")
endif()

# glTF 2.0 models: Debian's tinygltf, whose compiled library holds the parser (see docs/models.md).
find_package(TinyGLTF CONFIG REQUIRED)
