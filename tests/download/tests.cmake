# The loopback HTTP server of the download tests speaks Winsock on Windows.
if(WIN32)
  target_link_libraries(download_tests PRIVATE ws2_32)
else()
  target_link_libraries(download_tests PRIVATE Threads::Threads)
endif()
