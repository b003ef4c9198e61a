# Every dependency comes from Debian packages or the pinned npm packages (tools/setup.sh).
find_package(PkgConfig REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(simdjson 3.0 REQUIRED)
find_package(Threads REQUIRED)

set(PLINTHOS_NODE_MODULES ${CMAKE_SOURCE_DIR}/node_modules)

# The real DuckDB engine as a shared library, with the C API header of the same version.
set(DUCKDB_LIBRARY ${PLINTHOS_NODE_MODULES}/@duckdb/node-bindings-linux-x64/libduckdb.so)
set(DUCKDB_HEADER_DIR ${PLINTHOS_NODE_MODULES}/duckdb/src/duckdb/src/include)
if(NOT EXISTS ${DUCKDB_LIBRARY} OR NOT EXISTS ${DUCKDB_HEADER_DIR}/duckdb.h)
  message(FATAL_ERROR "DuckDB library or header missing: run tools/setup.sh")
endif()
# Only duckdb.h is taken from the source package: copy it so no other engine header is reachable.
set(DUCKDB_INCLUDE_DIR ${CMAKE_BINARY_DIR}/third_party/duckdb/include)
file(COPY ${DUCKDB_HEADER_DIR}/duckdb.h DESTINATION ${DUCKDB_INCLUDE_DIR})
add_library(duckdb SHARED IMPORTED GLOBAL)
set_target_properties(duckdb PROPERTIES
  IMPORTED_LOCATION ${DUCKDB_LIBRARY}
  IMPORTED_NO_SONAME TRUE
  INTERFACE_INCLUDE_DIRECTORIES ${DUCKDB_INCLUDE_DIR})

# The webview library, built for GTK 4 and WebKitGTK 6.0; its SONAME is libwebview.so.0.12.
set(WEBVIEW_LIBRARY ${PLINTHOS_NODE_MODULES}/webview-bun/build/libwebview-x64.so)

if(NOT PLINTHOS_FUZZ)
  pkg_check_modules(GTK4 REQUIRED IMPORTED_TARGET gtk4)
  pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkitgtk-6.0)
  find_package(GTest REQUIRED)
  find_package(benchmark REQUIRED)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
endif()
