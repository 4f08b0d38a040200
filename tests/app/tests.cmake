# The controller tests download from a loopback HTTP server.
if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  target_link_libraries(app_tests PRIVATE PkgConfig::CPP_HTTPLIB Threads::Threads)
endif()
