/* The smallest use of the engine library: open an in-memory database, run one SQL text given
 * as the only argument, print the first value of the first row (if any). The floor against
 * which the engine program's start-up is measured. */
#include <stdio.h>

#include "duckdb.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s SQL\n", argv[0]);
    return 2;
  }
  duckdb_database db;
  duckdb_connection con;
  duckdb_result result;
  if (duckdb_open(NULL, &db) != DuckDBSuccess) return 1;
  if (duckdb_connect(db, &con) != DuckDBSuccess) return 1;
  int status = 0;
  if (duckdb_query(con, argv[1], &result) != DuckDBSuccess) {
    fprintf(stderr, "%s\n", duckdb_result_error(&result));
    status = 1;
  } else if (duckdb_column_count(&result) > 0 && duckdb_row_count(&result) > 0) {
    char* text = duckdb_value_varchar(&result, 0, 0);
    printf("%s\n", text ? text : "");
    duckdb_free(text);
  }
  duckdb_destroy_result(&result);
  duckdb_disconnect(&con);
  duckdb_close(&db);
  return status;
}
