// The editor's HTTP layer: connections, requests and their limits, over
// libmicrohttpd. It reads each request whole within its limits and hands it
// to the editor twice: its head first (to refuse before any body is read) and
// then with its body. Every refusal and error closes the connection, so that
// bytes a refused request left unread are never taken for a request.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vexlor::cli {

// One request: names of headers in lower case, in the order sent; the path
// and the query's values decoded.
struct HttpRequest {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  std::vector<std::pair<std::string, std::string>> query;
  std::string body;

  // The first value of a header (name in lower case) or query parameter;
  // null when there is none.
  const std::string* Header(std::string_view name) const;
  const std::string* Query(std::string_view name) const;
  size_t HeaderCount(std::string_view name) const;
};

struct HttpResponse {
  int status = 200;
  std::string contentType;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// A refusal or error with the API's body: {"error": message}.
HttpResponse ErrorResponse(int status, const std::string& message);

// What one connection may cost. The memory holds a request's head and the
// read buffer; a head that does not fit is refused with 431 by the library.
// The head's own limits are lower, so that a head over them still fits and
// gets the API's 431 with a reason.
struct HttpLimits {
  size_t maxBody = 64 * 1024;
  size_t maxHeaderLines = 100;
  size_t maxHeaderBytes = 16 * 1024;
  size_t connectionMemory = 48 * 1024;
  // From a connection's start, or the end of its previous request, until the
  // request is read whole: a client slower than that is cut off.
  std::chrono::milliseconds requestTime{10000};
  // Silence after which a connection is closed (reading or writing).
  unsigned idleSeconds = 5;
  // Connections at once, each served by a thread of its own, so that slow
  // clients do not keep others waiting.
  unsigned maxConnections = 64;
};

// Serves requests on a bound socket and on connections handed to it.
class HttpServer {
 public:
  // A request's head, before its body is read: a response refuses it.
  using Screen = std::function<std::optional<HttpResponse>(const HttpRequest&)>;
  // A whole request that passed the screen: its answer.
  using Handle = std::function<HttpResponse(const HttpRequest&)>;

  HttpServer(HttpLimits limits, Screen screen, Handle handle);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on host (a name or an address) at port (0: a free one) and
  // returns the port; a data failure when it cannot.
  int Bind(const std::string& host, int port);
  // Starts the threads that serve; false when the library cannot start.
  bool Start();
  // Serves one connected socket, which the server then owns (also without
  // Bind: the fuzz target and tests hand it one end of a socket pair).
  void AddConnection(int fd);
  // Waits until Stop.
  void Wait();
  // Stops taking connections, lets the requests being answered finish, and
  // closes the rest.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vexlor::cli
