#pragma once
// Dashboards: the `dashboards` list of the configuration, records {fileType, filters, layout,
// name, pathToFiles} found by exact name. Layout and filters are stored as parsed JSON.
#include <string>

#include "common/outcome.h"

namespace plinthos {

struct Dashboard {
  std::string name;
  json layout;
  json filters;
  std::string pathToFiles;
  std::string fileType;
};

// The stored list; [] when absent or not a list. Records that are not objects with a text
// `name` are left out but kept in the file.
json getDashboards();
// Replaces the first record of that name in place (its other members stay) or appends one.
// Failures: the file could not be written.
Result<Done> saveDashboard(const Dashboard& dashboard);
// Removes every record named `name`. The file is written only when a list is stored.
// Failures: the file could not be written.
Result<Done> deleteDashboard(const std::string& name);

}  // namespace plinthos
