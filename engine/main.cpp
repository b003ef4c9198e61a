#include <cstdio>

#include "duckdb.h"

int main() {
  std::printf("%s\n", duckdb_library_version());
  return 0;
}
