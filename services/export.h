#pragma once
// Writing CSV files to a place the user picks in the save dialog.
#include <string>

#include "services/dialogs.h"
#include "services/engine_runner.h"

namespace plinthos {

// `setup`, then "COPY (\n" query "\n) TO 'destination' (FORMAT CSV, HEADER)", quotes in the
// destination doubled. `setup` holds statements (each closed by a semicolon) that the query
// relies on, such as the temporary table it reads.
std::string exportStatement(const std::string& query, const std::string& destination,
                            const std::string& setup = std::string());

// Bridge: [sql] or [sql, setup] -> {"ok": destination}, {"cancelled": true} or {"error": text}.
std::string exportToCsvCpp(const std::string& args, const ServiceEnv& env, Dialogs* dialogs);

// Bridge: [csv text] -> "ok", "cancelled", "error: could not write file" or
// "error: invalid arguments".
std::string saveCsvCpp(const std::string& args, Dialogs* dialogs);

}  // namespace plinthos
