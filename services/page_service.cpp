#include "services/page_service.h"

#include "pages/pages.h"

namespace plinthos {

std::string_view pageText(const std::string& id) {
  if (id == "bucket") return {BUCKET_PAGE, BUCKET_PAGE_SIZE};
  if (id == "coming") return {DASHBOARDS_PAGE, DASHBOARDS_PAGE_SIZE};
  return {};
}

}  // namespace plinthos
