#pragma once
// Writing CSV files to a place the user picks in the save dialog.
#include <string>

#include "services/dialogs.h"
#include "services/engine_runner.h"

namespace plinthos {

// "COPY (\n" query "\n) TO 'destination' (FORMAT CSV, HEADER)", quotes in the destination
// doubled.
std::string exportStatement(const std::string& query, const std::string& destination);

// Bridge: [sql] -> {"ok": destination}, {"cancelled": true} or {"error": text}.
std::string exportToCsvCpp(const std::string& args, const ServiceEnv& env, Dialogs* dialogs);

// Bridge: [csv text] -> "ok", "cancelled", "error: could not write file" or
// "error: invalid arguments".
std::string saveCsvCpp(const std::string& args, Dialogs* dialogs);

}  // namespace plinthos
