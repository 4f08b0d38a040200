# The command-line tools are tested by running the built programs.
quendal_test_suite(tools LIBS quendal_archive)
if(TARGET tools_tests)
  target_compile_definitions(tools_tests PRIVATE QUENDAL_UNZIP_PROGRAM="$<TARGET_FILE:quendal-unzip>")
  target_sources(tools_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/quendal_unzip/printable_text.cpp)
  add_dependencies(tools_tests quendal-unzip)
endif()
