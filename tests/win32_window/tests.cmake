# The native window of the Windows build, under Wine on a virtual X display.
# The display fixture starts Xvfb for these tests and pictures the screen
# whenever a test asks for it; see xvfb_fixture.sh. They run alone: under a
# busy Wine a loopback download in the window was seen to fail at once.
if(WIN32 AND TARGET quendal_win32_window)
  add_executable(win32_window_tests ${CMAKE_CURRENT_LIST_DIR}/updater_window_test.cpp)
  target_link_libraries(win32_window_tests PRIVATE quendal_win32_window GTest::gtest GTest::gtest_main ws2_32)
  target_include_directories(win32_window_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(win32_window_tests PRIVATE QUENDAL_BUILD_DIR="${host_root}${PROJECT_BINARY_DIR}")

  set(display_dir ${PROJECT_BINARY_DIR}/win32-display)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/display-run.sh.in ${PROJECT_BINARY_DIR}/display-run.sh @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
  set_target_properties(win32_window_tests PROPERTIES CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/display-run.sh)
  add_test(NAME win32_display_start COMMAND ${CMAKE_CURRENT_LIST_DIR}/xvfb_fixture.sh start ${display_dir} ${PROJECT_BINARY_DIR})
  add_test(NAME win32_display_stop COMMAND ${CMAKE_CURRENT_LIST_DIR}/xvfb_fixture.sh stop ${display_dir})
  set_tests_properties(win32_display_start PROPERTIES FIXTURES_SETUP win32_display)
  set_tests_properties(win32_display_stop PROPERTIES FIXTURES_CLEANUP win32_display)
  gtest_discover_tests(win32_window_tests DISCOVERY_TIMEOUT 60 PROPERTIES
    TIMEOUT 300 FIXTURES_REQUIRED win32_display RESOURCE_LOCK win32_display RUN_SERIAL TRUE)
  target_compile_definitions(win32_window_tests PRIVATE
    QUENDAL_M_STANDIN=L"${host_root}$<TARGET_FILE:quendal_m_standin>")
  add_dependencies(win32_window_tests quendal_m_standin)
  # The window over a program folder it cannot write; it starts the companion.
  add_test(NAME win32_window_read_only_folder
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/read_only_folder_test.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(win32_window_read_only_folder PROPERTIES SKIP_RETURN_CODE 77
    TIMEOUT 300 FIXTURES_REQUIRED win32_display RESOURCE_LOCK "quendal_updater_env;win32_display" RUN_SERIAL TRUE)
  # The window at 144 and 192 DPI, in a private prefix of its own.
  add_test(NAME win32_window_dpi COMMAND ${CMAKE_CURRENT_LIST_DIR}/dpi_test.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(win32_window_dpi PROPERTIES
    TIMEOUT 300 FIXTURES_REQUIRED win32_display RESOURCE_LOCK win32_display RUN_SERIAL TRUE)
endif()
if(WIN32 AND TARGET quendal-updater)
  # The updater program end to end, built for the tests' loopback port,
  # against a server on the Linux side.
  quendal_win32_updater_executable(quendal-updater-test "${quendal_test_update_url}")
  foreach(mode full close-early)
    add_test(NAME win32_updater_program_${mode}
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/updater_program_test.sh ${PROJECT_BINARY_DIR} ${mode}
                     ${QUENDAL_TEST_UPDATE_PORT})
    set_tests_properties(win32_updater_program_${mode} PROPERTIES
      TIMEOUT 180 FIXTURES_REQUIRED win32_display RESOURCE_LOCK "quendal_updater_env;win32_display" RUN_SERIAL TRUE)
  endforeach()
endif()
