// The dispatcher: calls run one at a time in arrival order, also when a dialog's nested loop
// delivers new calls while one is running, and every reply is valid JSON.
#include "app/dispatch.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace plinthos {
namespace {

struct Recorder {
  std::vector<std::string> events;
  std::vector<std::pair<std::string, std::string>> replies;
};

TEST(Dispatch, CallsDuringADialogRunAfterItInArrivalOrder) {
  Recorder rec;
  Dispatcher* self = nullptr;
  // A fake nested main loop: while "dialog" runs, the web view delivers three more calls.
  std::function<void()> nestedLoop = [&] {
    self->post(1, "b", "[\"1\"]");
    self->post(1, "c", "[\"2\"]");
    self->post(2, "d", "[]");
  };
  std::vector<BridgeBinding> table{
      {"dialog",
       [&](const std::string&) {
         rec.events.push_back("dialog start");
         nestedLoop();
         rec.events.push_back("dialog end");
         return std::string("\"/chosen\"");
       }},
      {"echo",
       [&](const std::string& args) {
         rec.events.push_back("echo " + args);
         return args;
       }},
      {"plain",
       [&](const std::string&) {
         rec.events.push_back("plain");
         return std::string("\"ok\"");
       }},
  };
  Dispatcher dispatcher(std::move(table), [&](const std::string& id, const std::string& json) {
    rec.replies.emplace_back(id, json);
  });
  self = &dispatcher;

  dispatcher.post(0, "a", "[]");
  EXPECT_FALSE(dispatcher.busy());
  EXPECT_EQ(rec.events, (std::vector<std::string>{"dialog start", "dialog end", "echo [\"1\"]",
                                                  "echo [\"2\"]", "plain"}));
  ASSERT_EQ(rec.replies.size(), 4u);
  EXPECT_EQ(rec.replies[0], (std::pair<std::string, std::string>{"a", "\"/chosen\""}));
  EXPECT_EQ(rec.replies[1].first, "b");
  EXPECT_EQ(rec.replies[2].first, "c");
  EXPECT_EQ(rec.replies[3], (std::pair<std::string, std::string>{"d", "\"ok\""}));

  // Once idle, a new call runs at once.
  dispatcher.post(2, "e", "[]");
  EXPECT_EQ(rec.replies.back().first, "e");
}

TEST(Dispatch, EscapedExceptionsAndBadRepliesBecomeErrorObjects) {
  std::vector<std::pair<std::string, std::string>> replies;
  std::vector<BridgeBinding> table{
      {"throwsStd",
       [](const std::string&) -> std::string { throw std::runtime_error("disk \"gone\""); }},
      {"throwsOther", [](const std::string&) -> std::string { throw 42; }},
      {"notJson", [](const std::string&) { return std::string("ok"); }},
      {"empty", nullptr},
  };
  Dispatcher dispatcher(std::move(table), [&](const std::string& id, const std::string& json) {
    replies.emplace_back(id, json);
  });
  for (std::size_t i = 0; i < 5; ++i)
    dispatcher.post(i, std::to_string(i), "[]");  // 4 is out of range

  ASSERT_EQ(replies.size(), 5u);
  EXPECT_EQ(nlohmann::json::parse(replies[0].second), (nlohmann::json{{"error", "disk \"gone\""}}));
  for (const auto& [id, json] : replies) {
    ASSERT_TRUE(nlohmann::json::accept(json)) << id << ": " << json;
    const auto parsed = nlohmann::json::parse(json);
    EXPECT_TRUE(parsed.contains("error")) << id;
    EXPECT_FALSE(parsed["error"].get<std::string>().empty()) << id;
  }
}

TEST(Dispatch, AFailingReplyDoesNotStallTheQueue) {
  std::vector<std::string> delivered;
  std::vector<BridgeBinding> table{{"f", [](const std::string& a) { return a; }}};
  Dispatcher dispatcher(std::move(table), [&](const std::string& id, const std::string&) {
    if (id == "bad") throw std::runtime_error("window gone");
    delivered.push_back(id);
  });
  dispatcher.post(0, "bad", "[]");
  dispatcher.post(0, "good", "[]");
  EXPECT_EQ(delivered, std::vector<std::string>{"good"});
  EXPECT_FALSE(dispatcher.busy());
}

}  // namespace
}  // namespace plinthos
