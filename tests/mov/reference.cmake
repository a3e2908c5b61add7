# Reference analysis and header templates.
arbel_add_test_suite(arbel_mov_reference_tests engine
  ${CMAKE_CURRENT_LIST_DIR}/reference_builder_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reference_signature_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reference_templates_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reference_classify_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reference_malformed_test.cpp)
