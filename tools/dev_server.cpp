#include "tools/dev_server.h"

#include <httplib.h>

#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>

#include "pages/pages.h"

namespace plinthos {

namespace {
constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kShimMarker = "<nav>";
}  // namespace

std::string bridgeShim(const std::vector<BridgeBinding>& bindings) {
  nlohmann::json names = nlohmann::json::array();
  for (const auto& b : bindings) names.push_back(b.name);
  return "<script>\n(() => {\n  let chain = Promise.resolve();\n"
         "  const call = (name, args) => {\n"
         "    const body = JSON.stringify(args.map((a) => (a === undefined ? null : a)));\n"
         "    const run = () => fetch('/bridge/' + encodeURIComponent(name), {method: 'POST', "
         "body})\n"
         "      .then((r) => r.text()).then((t) => JSON.parse(t));\n"
         "    const result = chain.then(run, run);\n"
         "    chain = result.catch(() => {});\n"
         "    return result;\n  };\n  for (const name of " +
         names.dump() +
         ") window[name] = (...args) => call(name, args);\n})();\n</script>\n";
}

int serve(const std::vector<BridgeBinding>& bindings, ScriptedDialogs& dialogs, int port) {
  httplib::Server server;
  std::mutex callMutex;  // bridge functions never overlap, as in the window
  std::string shell = SHELL_HTML;
  std::string page = shell;
  if (auto at = page.find(kShimMarker); at != std::string::npos) {
    page.insert(at, bridgeShim(bindings));
  } else {
    page = bridgeShim(bindings) + page;
  }

  server.Get("/", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(page, "text/html; charset=utf-8");
  });
  server.Post("/dialog", [&](const httplib::Request& req, httplib::Response& res) {
    dialogs.push(req.body);
    res.set_content("\"ok\"", "application/json");
  });
  server.Post(R"(/bridge/([A-Za-z0-9_]+))", [&](const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.matches[1];
    for (const auto& b : bindings) {
      if (b.name != name) continue;
      std::lock_guard lock(callMutex);
      res.set_content(b.call(req.body.empty() ? "[]" : req.body), "application/json");
      return;
    }
    res.status = 404;  // unknown names are never answered with a reply
  });

  int bound = port > 0 ? (server.bind_to_port(kLoopback, port) ? port : -1)
                       : server.bind_to_any_port(kLoopback);
  if (bound <= 0) {
    std::fprintf(stderr, "plinthos-dev: cannot listen on %s:%d\n", kLoopback, port);
    return 1;
  }
  std::printf("listening on http://%s:%d/\n", kLoopback, bound);
  std::fflush(stdout);
  return server.listen_after_bind() ? 0 : 1;
}

}  // namespace plinthos
