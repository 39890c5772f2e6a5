# Soak benchmark (not a test; 64-bit Windows tree, run under Wine by scripts/soak): a long
# recording's private bytes, GDI objects and handles.
add_executable(soak ${CMAKE_CURRENT_LIST_DIR}/soak.cpp
    ${PROJECT_SOURCE_DIR}/tests/win/EngineTestSupport.cpp)
target_link_libraries(soak PRIVATE quarnelby_engine quarnelby_msvc1 avifil32 ole32 psapi)
target_link_options(soak PRIVATE -municode)
set_target_properties(soak PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
