#include "services/page_service.h"

#include "bridge/bridge_io.h"
#include "pages/pages.h"

namespace plinthos {

// Arguments: [page id], compared exactly. Reply: the page text as a JSON string; "" for any
// other id, and for a call without a text id (the shell then shows an empty pane).
// Failures: none.
std::string getPage(const std::string& args) {
  return guarded(
      [&] {
        auto id = readTextArgs(args, 1, nullptr);
        if (!id) return stringReply("");
        if ((*id)[0] == "bucket") return stringReply(std::string(BUCKET_PAGE, BUCKET_PAGE_SIZE));
        if ((*id)[0] == "coming") {
          return stringReply(std::string(DASHBOARDS_PAGE, DASHBOARDS_PAGE_SIZE));
        }
        return stringReply("");
      },
      [](const std::string&) { return stringReply(""); });
}

}  // namespace plinthos
