#pragma once
// The page texts, assembled from pages/ and embedded by the build.
#include <cstddef>

namespace plinthos {
extern const char SHELL_HTML[];       // the whole shell document
extern const char BUCKET_PAGE[];      // the Query page fragment
extern const char DASHBOARDS_PAGE[];  // the Dashboards page fragment
extern const std::size_t SHELL_HTML_SIZE;
extern const std::size_t BUCKET_PAGE_SIZE;
extern const std::size_t DASHBOARDS_PAGE_SIZE;
}  // namespace plinthos
