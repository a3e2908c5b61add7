# End-to-end repairs of camera-like recordings made with ffmpeg at test time
# (label "e2e"), and the robustness tests on truncated and random input
# (label "engine", so the sanitizer build runs them).
arbel_add_test_suite(arbel_mov_end_to_end_tests e2e
  ${CMAKE_CURRENT_LIST_DIR}/end_to_end_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/end_to_end_camera_rows_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/end_to_end_codec_test.cpp)
target_compile_definitions(arbel_mov_end_to_end_tests PRIVATE
  ARBEL_CLIP_CACHE="${CMAKE_BINARY_DIR}/clip-cache"
  ARBEL_CLI_PATH="$<TARGET_FILE:arbel-repair>")
add_dependencies(arbel_mov_end_to_end_tests arbel-repair)

arbel_add_test_suite(arbel_mov_robustness_tests engine
  ${CMAKE_CURRENT_LIST_DIR}/robustness_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/camera_clip_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/end_to_end_aac_frames_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stop_anywhere_test.cpp)
target_compile_definitions(arbel_mov_robustness_tests PRIVATE
  ARBEL_SAMPLES_DIR="${CMAKE_SOURCE_DIR}/samples")

# Makes camera-like sample recordings (scripts/make-samples.sh).
add_executable(arbel-make-camera-clip ${CMAKE_SOURCE_DIR}/tests/tools/make_camera_clip.cpp)
target_compile_options(arbel-make-camera-clip PRIVATE ${ARBEL_WARNINGS})
target_link_libraries(arbel-make-camera-clip PRIVATE arbel_test_support)
