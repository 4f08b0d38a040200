# The command-line tools are tested by running the built programs. The
# Windows quendal-unzip.exe is run by the same tests of the Linux build, under
# Wine, when QUENDAL_WINDOWS_UNZIP gives the command that starts it: they make
# their archives with zip, 7zz and Python, which Wine cannot start.
set(QUENDAL_WINDOWS_UNZIP "" CACHE STRING "Command running the Windows quendal-unzip.exe, tested beside the native one")
if(NOT WIN32)
  quendal_test_suite(tools LIBS quendal_archive)
endif()
if(TARGET tools_tests)
  target_compile_definitions(tools_tests PRIVATE QUENDAL_UNZIP_PROGRAM="$<TARGET_FILE:quendal-unzip>")
  target_sources(tools_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/quendal_unzip/printable_text.cpp)
  add_dependencies(tools_tests quendal-unzip)
  if(QUENDAL_WINDOWS_UNZIP)
    gtest_discover_tests(tools_tests TEST_PREFIX "wine." TEST_FILTER "QuendalUnzip.*" DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 600 ENVIRONMENT "QUENDAL_UNZIP_PROGRAM=${QUENDAL_WINDOWS_UNZIP}")
  endif()
endif()
