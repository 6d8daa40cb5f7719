# The globe's camera manipulator: settings and bindings, input, flights, camera math and scene attachment.
target_sources(VeltraGlobe PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/src/EarthManipulatorSettings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/EarthManipulatorInput.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/EarthManipulatorFlight.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/EarthManipulatorCamera.cpp
    ${CMAKE_CURRENT_LIST_DIR}/src/EarthManipulatorScene.cpp)
