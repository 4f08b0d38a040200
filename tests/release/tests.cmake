# The manifest reader and version order, in both builds.
quendal_test_suite(release LIBS quendal_release quendal_json)
