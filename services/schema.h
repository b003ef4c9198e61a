#pragma once
// The schema service: the columns and types of the first data source a query reads.
#include <optional>
#include <string>
#include <vector>

#include "services/engine_runner.h"

namespace plinthos {

// "DESCRIBE SELECT * FROM F('P')" for the first read_csv call, else the first read_parquet
// call (P expanded when it names a folder); nullopt when the text holds neither.
std::optional<std::string> describeStatement(const std::string& workingFolder,
                                             const std::string& sql);

struct SchemaColumn {
  std::string name;
  std::string type;
};

// The columns of the first data source `sql` reads, in the engine's order; the query itself is
// not run. Failures: "No data source found in query", no temp script, engine not started, the
// engine's message (else "Schema query failed"), or the raw output when it is not an array of
// objects. Cancelled when stopped.
Result<std::vector<SchemaColumn>> getSchema(const std::string& sql, const ServiceEnv& env);

}  // namespace plinthos
