# The controller tests download from a loopback HTTP server (Winsock on Windows).
if(WIN32)
  target_link_libraries(app_tests PRIVATE ws2_32)
else()
  target_link_libraries(app_tests PRIVATE Threads::Threads)
endif()
