#pragma once
// Dashboards: the `dashboards` list of the configuration, records {fileType, filters, layout,
// name, pathToFiles} found by exact name. Layout and filters are stored as parsed JSON.
#include <string>

namespace plinthos {

// Bridge: [] -> the stored list; [] when absent or not an array. Records that are not objects
// with a text `name` are left out of the reply but kept in the file.
std::string getDashboardsCpp(const std::string& args);
// Bridge: [name, layout, filters?, pathToFiles?, fileType?] -> {"ok":true};
// {"error": ...} on bad arguments, layout or filters that are not JSON, or a failed write.
std::string saveDashboardCpp(const std::string& args);
// Bridge: [name] -> {"ok":true}; {"error": ...} on bad arguments or a failed write.
std::string deleteDashboardCpp(const std::string& args);

}  // namespace plinthos
