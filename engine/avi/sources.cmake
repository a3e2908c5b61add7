# AVI repair engine, one source per stage.
target_sources(arbel_engines PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/validity_check.cpp
  ${CMAKE_CURRENT_LIST_DIR}/retrieve_samples.cpp)
