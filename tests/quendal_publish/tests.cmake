# quendal-publish is run as a program; it exists in the Linux build only.
if(NOT WIN32)
  quendal_test_suite(quendal_publish LIBS quendal_release ZLIB::ZLIB)
  target_compile_definitions(quendal_publish_tests PRIVATE QUENDAL_PUBLISH_PROGRAM="$<TARGET_FILE:quendal-publish>")
  add_dependencies(quendal_publish_tests quendal-publish)
endif()
