# The window's tests run the real Qt widgets on the offscreen platform; two of
# them run the updater program, built for the tests' loopback port, against
# the update server.
if(TARGET quendal_qt)
  quendal_updater_executable(quendal-updater-test "${quendal_test_update_url}" "")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  file(GLOB qt_test_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/*.cpp")
  add_executable(qt_tests ${qt_test_sources})
  target_link_libraries(qt_tests PRIVATE quendal_qt GTest::gtest GTest::gmock PkgConfig::CPP_HTTPLIB Threads::Threads)
  target_include_directories(qt_tests PRIVATE "${CMAKE_CURRENT_LIST_DIR}/..")
  target_compile_definitions(qt_tests PRIVATE
    QUENDAL_BUILD_DIR="${PROJECT_BINARY_DIR}"
    QUENDAL_UPDATER_BINARY="$<TARGET_FILE:quendal-updater-test>"
    QUENDAL_UPDATE_SERVER_BINARY="$<TARGET_FILE:quendal-update-server>"
    QUENDAL_TEST_UPDATE_PORT="${QUENDAL_TEST_UPDATE_PORT}")
  add_dependencies(qt_tests quendal-updater-test quendal-update-server)
  gtest_discover_tests(qt_tests DISCOVERY_TIMEOUT 60 PROPERTIES
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    RESOURCE_LOCK quendal_updater_env)
endif()

# The program once more, with a test key compiled in: the signed whole update
# end to end. The key pairs are made in the build folder, never in the sources.
if(TARGET quendal_qt)
  find_program(OPENSSL_PROGRAM openssl REQUIRED)
  # Two pairs, as after a key rotation: the updater knows both keys.
  set(test_key "${PROJECT_BINARY_DIR}/test-update-key")
  set(second_key "${PROJECT_BINARY_DIR}/test-update-key-2")
  set(public_keys "")
  foreach(key IN ITEMS "${test_key}" "${second_key}")
    if(NOT EXISTS "${key}-public.pem")
      execute_process(COMMAND "${OPENSSL_PROGRAM}" ecparam -name prime256v1 -genkey -noout -out "${key}-private.pem"
                      COMMAND_ERROR_IS_FATAL ANY)
      execute_process(COMMAND "${OPENSSL_PROGRAM}" ec -in "${key}-private.pem" -pubout -out "${key}-public.pem"
                      COMMAND_ERROR_IS_FATAL ANY ERROR_QUIET)
    endif()
    file(READ "${key}-public.pem" public_key)
    string(APPEND public_keys "${public_key}")
  endforeach()
  file(WRITE "${PROJECT_BINARY_DIR}/test-update-keys.pem" "${public_keys}")
  quendal_updater_executable(quendal-updater-test-key "${quendal_test_update_url}" "${PROJECT_BINARY_DIR}/test-update-keys.pem")
  target_compile_definitions(qt_tests PRIVATE
    QUENDAL_SIGNED_UPDATER_BINARY="$<TARGET_FILE:quendal-updater-test-key>"
    QUENDAL_TEST_PRIVATE_KEY="${test_key}-private.pem"
    QUENDAL_TEST_SECOND_PRIVATE_KEY="${second_key}-private.pem")
  target_compile_definitions(qt_tests PRIVATE QUENDAL_PUBLISH_PROGRAM="$<TARGET_FILE:quendal-publish>")
  add_dependencies(qt_tests quendal-updater-test-key quendal-publish)
endif()
