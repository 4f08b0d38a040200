# The window's tests run the real Qt widgets on the offscreen platform; one of
# them starts the quendal-updater program against a server on port 280.
if(TARGET quendal_gui)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  file(GLOB gui_test_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/*.cpp")
  add_executable(gui_tests ${gui_test_sources})
  target_link_libraries(gui_tests PRIVATE quendal_gui GTest::gtest GTest::gmock PkgConfig::CPP_HTTPLIB Threads::Threads)
  target_include_directories(gui_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(gui_tests PRIVATE
    QUENDAL_BUILD_DIR="${PROJECT_BINARY_DIR}"
    QUENDAL_UPDATER_BINARY="$<TARGET_FILE:quendal-updater>"
    QUENDAL_UPDATE_HOST="${QUENDAL_UPDATE_HOST}")
  add_dependencies(gui_tests quendal-updater)
  gtest_discover_tests(gui_tests DISCOVERY_TIMEOUT 60 PROPERTIES
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    RESOURCE_LOCK quendal_updater_env)
endif()
