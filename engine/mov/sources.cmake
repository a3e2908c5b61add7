# QuickTime-family repair engine, one source per stage.
target_sources(arbel_engines PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/validity_checks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reference_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reference_analysis.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reference_templates.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aac_frame_start.cpp
  ${CMAKE_CURRENT_LIST_DIR}/media_scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mjpeg_scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/codec_scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_skeleton.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_aac_runs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_audio.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_fixed_chunks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_access_units.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_jpeg_runs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/movie_timing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/movie_atom.cpp
  ${CMAKE_CURRENT_LIST_DIR}/codec_movie_atom.cpp
  ${CMAKE_CURRENT_LIST_DIR}/result_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/repaired_file_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/repair_mov.cpp)
