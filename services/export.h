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

// Asks where to, then has the engine write the whole answer of `sql` (its own LIMIT included)
// there as CSV with a header, after the `setup` statements in the same run: the
// destination. Cancelled when the dialog is (nothing else happens then) or the run is stopped.
// Failures: no temp script, engine not started, the engine's message (else "Export failed").
Result<std::string> exportToCsv(const std::string& sql, const std::string& setup,
                                const ServiceEnv& env, Dialogs* dialogs);

// Asks where to, then writes `csv` there exactly as received: the destination. Cancelled with the
// dialog. Failures: the destination cannot be opened or written completely (the system's reason).
Result<std::string> saveCsv(const std::string& csv, Dialogs* dialogs);

}  // namespace plinthos
