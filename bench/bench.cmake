# Benchmarks: built on demand by bench/run.sh (never part of the default build).
add_executable(plinthos-bench-capi EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/capi_floor.c)
target_link_libraries(plinthos-bench-capi PRIVATE duckdb)
set_target_properties(plinthos-bench-capi PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench
  BUILD_RPATH ${PLINTHOS_FRAMEWORKS_DIR})
add_dependencies(plinthos-bench-capi bundle_frameworks)

add_executable(plinthos-bench EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/driver.cpp)
target_link_libraries(plinthos-bench PRIVATE plinthos_dispatch nlohmann_json::nlohmann_json)
set_target_properties(plinthos-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
add_dependencies(plinthos-bench plinthos-bench-capi)
