# Scans of the damaged file: the skeleton, the dispatch, the generic scan, the
# MJPEG scan and the camera variants on crafted media data.
arbel_add_test_suite(arbel_mov_scan_tests engine
  ${CMAKE_CURRENT_LIST_DIR}/scan_dispatch_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_generic_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_mjpeg_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_aac_runs_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_fixed_chunks_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_access_units_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_jpeg_runs_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_skeleton_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/codec_aware_test.cpp)
target_compile_definitions(arbel_mov_scan_tests PRIVATE ARBEL_SAMPLES_DIR="${CMAKE_SOURCE_DIR}/samples")
