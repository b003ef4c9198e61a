#include "app/bridge_table.h"

#include "services/bucket.h"
#include "services/conversion.h"
#include "services/export.h"
#include "services/page_service.h"
#include "services/query.h"
#include "services/schema.h"
#include "store/config.h"
#include "store/dashboards.h"
#include "store/saved_queries.h"

namespace plinthos {

// Every function below is itself the boundary: it answers valid JSON and never throws.
std::vector<BridgeBinding> bridgeTable(const BridgeEnv& env) {
  ServiceEnv services{env.exePath, env.duckdbPath};
  std::string exe = env.exePath;
  Dialogs* dialogs = env.dialogs;
  return {
      {"getPage", getPage},
      {"getBucketPathCpp", getBucketPathCpp},
      {"setBucketPathCpp", setBucketPathCpp},
      {"chooseFolderCpp", [dialogs](const std::string& a) { return chooseFolderCpp(a, dialogs); }},
      {"listBucketCpp", [exe](const std::string& a) { return listBucketCpp(a, exe); }},
      {"csv2parquetCpp", [services](const std::string& a) { return csv2parquetCpp(a, services); }},
      {"queryDuckCpp", [services](const std::string& a) { return queryDuckCpp(a, services); },
       kQueryStopTagAt},
      {"getSavedQueriesCpp", getSavedQueriesCpp},
      {"saveQueryCpp", saveQueryCpp},
      {"deleteQueryCpp", deleteQueryCpp},
      {"getDashboardsCpp", getDashboardsCpp},
      {"saveDashboardCpp", saveDashboardCpp},
      {"deleteDashboardCpp", deleteDashboardCpp},
      {"getSchemaCpp", [services](const std::string& a) { return getSchemaCpp(a, services); }},
      {"saveCsvCpp", [dialogs](const std::string& a) { return saveCsvCpp(a, dialogs); }},
      {"exportToCsvCpp",
       [services, dialogs](const std::string& a) { return exportToCsvCpp(a, services, dialogs); }},
  };
}

}  // namespace plinthos
