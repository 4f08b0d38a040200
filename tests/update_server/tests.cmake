# The update server exists in the Linux build only; it serves on the updater
# tests' port, so it shares their lock.
if(NOT WIN32)
  add_test(NAME update_server_answers
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/update_server_test.sh $<TARGET_FILE:quendal-update-server>
                   ${QUENDAL_TEST_UPDATE_PORT})
  set_tests_properties(update_server_answers PROPERTIES RESOURCE_LOCK quendal_updater_env TIMEOUT 120)
endif()
