# The manifest reader, version order, the differential plan and the archive of
# fetched entries, in both builds. The last is checked by extracting with
# TUnZip.
quendal_test_suite(release LIBS quendal_release quendal_json quendal_archive)
