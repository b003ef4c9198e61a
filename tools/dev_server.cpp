#include "tools/dev_server.h"

#include <httplib.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <utility>

#include "app/dispatch.h"
#include "pages/pages.h"
#include "services/engine_runner.h"
#include "services/held.h"

namespace plinthos {

extern const char BRIDGE_SHIM_JS[];  // tools/bridge_shim.js, embedded by the build

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kShimMarker = "<nav>";
// Not compressed: the server compresses only the exact type "application/json", and at
// brotli's slowest level, seconds for a reply of a few megabytes, for nothing on loopback.
constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kCallHeader = "X-Plinthos-Call";  // "page:n", set by the page's shim
constexpr auto kPollWait = std::chrono::seconds(10);
constexpr int kSignalExitBase = 128;

void replacePlaceholder(std::string& text, const std::string& placeholder,
                        const std::string& value) {
  if (auto at = text.find(placeholder); at != std::string::npos) {
    text.replace(at, placeholder.size(), value);
  }
}

// Replies on their way to whoever waits for them: a direct POST /bridge call, or a page's long
// poll, which takes every reply of its page that is ready.
class Mailroom {
 public:
  std::future<std::string> expectDirect(const std::string& id) {
    std::lock_guard lock(mutex_);
    return direct_[id].get_future();
  }

  void deliver(const std::string& id, const std::string& json) {
    std::lock_guard lock(mutex_);
    if (auto it = direct_.find(id); it != direct_.end()) {
      it->second.set_value(json);
      direct_.erase(it);
      return;
    }
    pages_[id.substr(0, id.find(':'))].emplace_back(id, json);
    arrived_.notify_all();
  }

  // A JSON array of [id, reply] pairs, empty when nothing came in time.
  std::string collect(const std::string& page) {
    std::unique_lock lock(mutex_);
    auto& box = pages_[page];
    arrived_.wait_for(lock, kPollWait, [&] { return !box.empty(); });
    std::string out = "[";
    for (const auto& [id, json] : box) {
      if (out.size() > 1) out += ',';
      out += "[" + nlohmann::json(id).dump() + "," + json + "]";  // replies are valid JSON
    }
    box.clear();
    return out + "]";
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::map<std::string, std::promise<std::string>> direct_;
  std::map<std::string, std::deque<std::pair<std::string, std::string>>> pages_;
};

// Ends the engine runs before the process goes on SIGTERM, SIGINT or SIGHUP. Blocks them in this
// thread first, so that every thread started afterwards leaves them to the waiting one.
void endRunsOnSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals] {
    int received = 0;
    sigwait(&signals, &received);
    endAllEngineRuns();
    std::fflush(nullptr);
    _exit(kSignalExitBase + received);
  }).detach();
}

}  // namespace

std::string bridgeShim(const std::vector<BridgeBinding>& bindings) {
  nlohmann::json names = nlohmann::json::array();
  for (const auto& b : bindings) names.push_back(b.name);
  std::string shim = BRIDGE_SHIM_JS;
  replacePlaceholder(shim, "__QUEUED_NAMES__", names.dump());
  replacePlaceholder(shim, "__AT_ONCE_NAMES__", nlohmann::json::array({kStopFunctionName}).dump());
  return "<script>\n" + shim + "</script>\n";
}

int serve(const std::vector<BridgeBinding>& bindings, ScriptedDialogs& dialogs, int port) {
  endRunsOnSignals();
  Mailroom mailroom;
  // Nothing here needs the main thread: replies go straight to the mailroom.
  Dispatcher dispatcher(
      bindings, [&](const std::string& id, const std::string& json) { mailroom.deliver(id, json); },
      [](std::function<void()> task) { task(); });
  auto indexOf = [&](const std::string& name) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < bindings.size(); ++i) {
      if (bindings[i].name == name) return i;
    }
    return std::nullopt;
  };
  std::atomic<unsigned long> directCount = 0;

  httplib::Server server;
  std::string page = SHELL_HTML;
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
    res.set_content("\"ok\"", kJson);
  });
  // A page's call carries its id in a header and is answered at once, its reply collected later
  // through /replies; a call straight from a test waits for its reply (each on a server thread of
  // its own, so such calls run side by side as the lanes allow). Both go to the dispatcher alike.
  auto onBridge = [&](const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.matches[1];
    const std::string args = req.body.empty() ? "[]" : req.body;
    if (name == kStopFunctionName) {
      res.set_content(dispatcher.stop(args), kJson);
      return;
    }
    auto index = indexOf(name);
    if (!index) {
      res.status = 404;  // unknown names are never answered with a reply
      return;
    }
    std::string id = req.get_header_value(kCallHeader);
    if (id.find(':') != std::string::npos) {
      dispatcher.post(*index, id, args);
      res.set_content("\"queued\"", kJson);
      return;
    }
    id = "direct:" + std::to_string(++directCount);
    auto reply = mailroom.expectDirect(id);
    dispatcher.post(*index, id, args);
    res.set_content(reply.get(), kJson);
  };
  server.Post(R"(/bridge/([A-Za-z0-9_]+))", onBridge);
  // Held answers over HTTP at the same paths as the window's scheme, so pages fetch alike.
  server.Get(R"(/answer/(.*))", [](const httplib::Request& req, httplib::Response& res) {
    constexpr std::string_view kBase = "/answer/";
    FetchReply reply = fetchHeld(std::string_view(req.target).substr(kBase.size()));
    res.status = reply.status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(std::move(reply.body), reply.contentType);
  });
  server.Get("/replies", [&](const httplib::Request& req, httplib::Response& res) {
    res.set_content(mailroom.collect(req.get_param_value("page")), kJson);
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
