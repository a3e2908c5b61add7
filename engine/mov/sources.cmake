# QuickTime-family repair engine, one source per stage.
target_sources(arbel_engines PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/validity_checks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/repair_mov.cpp)
