#pragma once
// The schema service: the columns and types of the first data source a query reads.
#include <optional>
#include <string>

#include "services/engine_runner.h"

namespace plinthos {

// "DESCRIBE SELECT * FROM F('P')" for the first read_csv call, else the first read_parquet
// call (P expanded when it names a folder); nullopt when the text holds neither.
std::optional<std::string> describeStatement(const std::string& workingFolder,
                                             const std::string& sql);

// Bridge: [sql] -> {"columns":[{"name":..,"type":..},...]}, or {"error": text}.
std::string getSchemaCpp(const std::string& args, const ServiceEnv& env);

}  // namespace plinthos
