veltra_add_test_suite(VeltraHostCaptureTests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CaptureRenderTest.cpp
    LIBRARIES VeltraHostCapture)
target_link_libraries(VeltraHostCaptureTests PRIVATE Xcomposite Xdamage X11)
