# Their manifests list the entries as quendal-publish finds them.
target_link_libraries(app_tests PRIVATE quendal_archive_survey)
# The controller tests download from a loopback HTTP server (Winsock on
# Windows, where the update archives are deflated with zlib by the tests).
if(WIN32)
  target_link_libraries(app_tests PRIVATE ws2_32 ZLIB::ZLIB)
else()
  target_link_libraries(app_tests PRIVATE Threads::Threads)
endif()
