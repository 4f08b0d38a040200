# The loopback HTTP server of the download tests is a compiled library here;
# the Windows tests serve through Winsock.
if(WIN32)
  target_link_libraries(download_tests PRIVATE ws2_32)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  target_link_libraries(download_tests PRIVATE PkgConfig::CPP_HTTPLIB Threads::Threads)
endif()
