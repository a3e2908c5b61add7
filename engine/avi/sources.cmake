# AVI repair engine, one source per stage.
target_sources(arbel_engines PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/validity_check.cpp
  ${CMAKE_CURRENT_LIST_DIR}/retrieve_samples.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stream_headers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/chunk_scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/riff_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/audio_format_tag.cpp)
