quendal_test_suite(install LIBS quendal_install)

# On Windows a helper process holds a file open without delete sharing.
if(WIN32)
  add_executable(file_holder WIN32 install/holder/file_holder.cpp)
  target_link_options(file_holder PRIVATE -municode)
  target_compile_definitions(install_tests PRIVATE QUENDAL_FILE_HOLDER=L"${host_root}$<TARGET_FILE:file_holder>")
  add_dependencies(install_tests file_holder)
endif()

# The real updater killed during an update, on Linux (the Windows program's
# whole update runs in tests/win32_window): the program built for the tests'
# loopback port (tests/qt), which this server takes.
if(NOT WIN32 AND TARGET quendal-updater-test)
  add_executable(install_program_tests install/program/updater_kill_test.cpp)
  target_link_libraries(install_program_tests PRIVATE GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(install_program_tests PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
  target_compile_definitions(install_program_tests PRIVATE
    QUENDAL_UPDATER_BINARY="$<TARGET_FILE:quendal-updater-test>"
    QUENDAL_TEST_UPDATE_PORT=${QUENDAL_TEST_UPDATE_PORT})
  add_dependencies(install_program_tests quendal-updater-test)
  gtest_discover_tests(install_program_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600
    RESOURCE_LOCK quendal_updater_env)
endif()
