#include "app/answer_scheme.h"

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "app/answer_route.h"
#include "services/held.h"

namespace plinthos {

namespace {

constexpr int kInternalError = 500;
constexpr const char* kJsonType = "application/json";
constexpr const char* kFetchFailed = R"({"error":"The answer could not be read"})";

WebKitWebView* servedView = nullptr;

void finish(WebKitURISchemeRequest* request, FetchReply reply) {
  // The body is handed to WebKit as it is, without a copy: a column of a million rows is 9 MB.
  auto* body = new std::string(std::move(reply.body));
  GBytes* bytes = g_bytes_new_with_free_func(
      body->data(), body->size(), [](gpointer text) { delete static_cast<std::string*>(text); },
      body);
  GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
  WebKitURISchemeResponse* response =
      webkit_uri_scheme_response_new(stream, static_cast<gint64>(g_bytes_get_size(bytes)));
  webkit_uri_scheme_response_set_status(response, static_cast<guint>(reply.status), nullptr);
  webkit_uri_scheme_response_set_content_type(response, reply.contentType.c_str());
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  // The headers given replace the response's own, the type among them.
  soup_message_headers_append(headers, "Content-Type", reply.contentType.c_str());
  // The page is about:blank, whose origin is null: without this no fetch may read the body.
  soup_message_headers_append(headers, "Access-Control-Allow-Origin", "*");
  // A freed answer must not come back from a cache, nor a new one hide behind an old one.
  soup_message_headers_append(headers, "Cache-Control", "no-store");
  webkit_uri_scheme_response_set_http_headers(response, headers);  // takes the headers
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(stream);
  g_bytes_unref(bytes);
}

void fetchInThread(GTask* task, gpointer, gpointer path, GCancellable*) {
  auto reply = std::make_unique<FetchReply>();
  try {
    *reply = fetchHeld(*static_cast<std::string*>(path));
  } catch (const std::exception&) {
    *reply = {kInternalError, kJsonType, kFetchFailed};
  }
  g_task_return_pointer(task, reply.release(),
                        [](gpointer done) { delete static_cast<FetchReply*>(done); });
}

// Back on the main thread, the only one that may answer WebKit.
void onFetched(GObject* request, GAsyncResult* result, gpointer) {
  std::unique_ptr<FetchReply> reply(
      static_cast<FetchReply*>(g_task_propagate_pointer(G_TASK(result), nullptr)));
  finish(WEBKIT_URI_SCHEME_REQUEST(request),
         reply ? std::move(*reply) : FetchReply{kInternalError, kJsonType, kFetchFailed});
}

void onRequest(WebKitURISchemeRequest* request, gpointer) {
  const char* method = webkit_uri_scheme_request_get_http_method(request);
  AnswerRoute route =
      routeAnswerRequest(webkit_uri_scheme_request_get_uri(request), method ? method : "GET",
                         webkit_uri_scheme_request_get_web_view(request) == servedView);
  if (route.refusal != kFetchAllowed) {
    finish(request, {route.refusal, kJsonType, refusalBody(route.refusal)});
    return;
  }
  // A column of a million rows takes a while to copy out: the window keeps drawing meanwhile.
  GTask* task = g_task_new(request, nullptr, onFetched, nullptr);
  g_task_set_task_data(task, new std::string(std::move(route.path)),
                       [](gpointer path) { delete static_cast<std::string*>(path); });
  g_task_run_in_thread(task, fetchInThread);
  g_object_unref(task);
}

void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer) {
  // The page that held them is gone, and nothing else can reach them. The first page has none
  // yet, so freeing at every commit costs nothing.
  if (event == WEBKIT_LOAD_COMMITTED) freeAllHeld();
}

}  // namespace

void serveHeldAnswers(WebKitWebView* mainView) {
  servedView = mainView;
  WebKitWebContext* context = webkit_web_view_get_context(mainView);
  webkit_web_context_register_uri_scheme(context, kAnswerScheme, onRequest, nullptr, nullptr);
  // Cross-origin reads need the scheme to take part in CORS. Not "local": a page that is not
  // local itself could not reach it at all.
  webkit_security_manager_register_uri_scheme_as_cors_enabled(
      webkit_web_context_get_security_manager(context), kAnswerScheme);
  g_signal_connect(mainView, "load-changed", G_CALLBACK(onLoadChanged), nullptr);
}

}  // namespace plinthos
