# Sample tables, movie atom and the final phase.
arbel_add_test_suite(arbel_mov_writer_tests engine
  ${CMAKE_CURRENT_LIST_DIR}/writer_timing_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/writer_movie_atom_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/writer_final_phase_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/writer_mjpeg_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/codec_movie_atom_test.cpp)
