// Which requests of the application's scheme reach the held answers: only the main page's GET
// requests under the answer base, with the query kept and a fragment dropped; every other one
// gets its refusal and a JSON body saying why.
#include "app/answer_route.h"

#include <string>

#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using AnswerRouteTest = NativeTest;

TEST_F(AnswerRouteTest, OnlyTheMainPagesReadsUnderTheBaseReachTheAnswers) {
  const std::string id = "0123456789abcdef0123456789abcdef";
  struct Case {
    std::string uri;
    std::string method;
    bool fromMainView;
    int refusal;
    std::string path;
  };
  const Case cases[] = {
      {"plinthos://answer/" + id + "/rows?from=0&count=200", "GET", true, kFetchAllowed,
       id + "/rows?from=0&count=200"},
      {"plinthos://answer/" + id + "/column?c=1#end", "GET", true, kFetchAllowed,
       id + "/column?c=1"},
      // Whatever follows the base is the store's to judge, file-like or not.
      {"plinthos://answer/../../etc/passwd", "GET", true, kFetchAllowed, "../../etc/passwd"},
      {"plinthos://answer/" + id + "/rows", "GET", false, kForbidden, ""},
      {"plinthos://other/" + id, "GET", false, kForbidden, ""},
      {"plinthos://answer/" + id + "/rows", "POST", true, kMethodNotAllowed, ""},
      {"plinthos://other/" + id + "/rows", "POST", true, kNotFound, ""},
      {"plinthos://answer/", "GET", true, kNotFound, ""},
      {"plinthos://answer/#x", "GET", true, kNotFound, ""},
      {"plinthos://answer", "GET", true, kNotFound, ""},
      {"plinthos://Answer/" + id, "GET", true, kNotFound, ""},
      {"plinthos:///answer/" + id, "GET", true, kNotFound, ""},
      {"file:///answer/" + id, "GET", true, kNotFound, ""},
      {"", "GET", true, kNotFound, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.uri + (c.fromMainView ? " from the main page" : " elsewhere"));
    const AnswerRoute route = routeAnswerRequest(c.uri, c.method, c.fromMainView);
    EXPECT_EQ(route.refusal, c.refusal);
    EXPECT_EQ(route.path, c.path);
  }
}

TEST_F(AnswerRouteTest, EachRefusalSaysWhyInJson) {
  const std::pair<int, std::string> cases[] = {
      {kForbidden, R"({"error":"Only the Plinthos window may read its answers"})"},
      {kNotFound, R"({"error":"No such answer"})"},
      {kMethodNotAllowed, R"({"error":"Answers are only read"})"},
  };
  for (const auto& [status, body] : cases) EXPECT_EQ(refusalBody(status), body) << status;
}

}  // namespace
}  // namespace plinthos::test
