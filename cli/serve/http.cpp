// The editor's HTTP layer over libmicrohttpd: one thread per connection, a
// bounded head, a bounded body, and a watchdog that cuts off a client whose
// request is not in whole within its time.
#include "cli/serve/http.h"

#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <unordered_set>

#include "cli/base/failure.h"

namespace vexlor::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A header's or parameter's first value among pairs.
const std::string* FindValue(const std::vector<std::pair<std::string, std::string>>& pairs,
                             std::string_view name) {
  for (const auto& [key, value] : pairs)
    if (key == name) return &value;
  return nullptr;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Headers on every answer: no type sniffing, no referrer sent on.
constexpr std::pair<const char*, const char*> kEveryResponse[] = {
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
};

// A connection as the watchdog sees it: the socket, and until when the
// request being read may take.
struct Connection {
  int fd;
  Clock::time_point deadline;
  bool reading = true;
};

// A request while it is read: its head, then its body.
struct Pending {
  HttpRequest request;
  bool answered = false;  // counted among the answers being made
};

}  // namespace

const std::string* HttpRequest::Header(std::string_view name) const {
  return FindValue(headers, name);
}

const std::string* HttpRequest::Query(std::string_view name) const {
  return FindValue(query, name);
}

size_t HttpRequest::HeaderCount(std::string_view name) const {
  return static_cast<size_t>(std::count_if(headers.begin(), headers.end(),
                                           [&](const auto& h) { return h.first == name; }));
}

HttpResponse ErrorResponse(int status, const std::string& message) {
  nlohmann::json body = {{"error", message}};
  return {status, "application/json",
          body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), {}};
}

struct HttpServer::Impl {
  HttpLimits limits;
  Screen screen;
  Handle handle;
  int listenFd = -1;
  MHD_Daemon* daemon = nullptr;

  std::mutex mutex;
  std::condition_variable changed;
  std::unordered_set<Connection*> connections;
  size_t answering = 0;     // requests whose answer is being made
  bool stopRequested = false;
  bool closing = false;     // no new answers: the server is stopping
  std::thread watchdog;
  std::mutex stopMutex;     // one Stop at a time; the second finds it done
  bool stopped = false;

  // Why a head breaks the limits or the framing of requests; none when it
  // is sound. A second Content-Length or Host could be read differently by
  // the library and by whoever sent it, so neither is guessed at.
  std::optional<HttpResponse> CheckHead(const HttpRequest& req) const {
    size_t bytes = 0;
    for (const auto& [key, value] : req.headers) bytes += key.size() + value.size() + 4;
    if (req.headers.size() > limits.maxHeaderLines)
      return ErrorResponse(431, "more than " + std::to_string(limits.maxHeaderLines) +
                                    " header lines");
    if (bytes > limits.maxHeaderBytes)
      return ErrorResponse(431, "header lines over " + std::to_string(limits.maxHeaderBytes) +
                                    " bytes");
    if (req.HeaderCount("content-length") > 1)
      return ErrorResponse(400, "more than one Content-Length header");
    if (req.HeaderCount("host") > 1) return ErrorResponse(400, "more than one Host header");
    if (req.Header("content-length") && req.Header("transfer-encoding"))
      return ErrorResponse(400, "both Content-Length and Transfer-Encoding");
    if (const std::string* length = req.Header("content-length")) {
      if (length->empty() || !std::all_of(length->begin(), length->end(), ::isdigit))
        return ErrorResponse(400, "Content-Length is not a number");
      if (length->size() > 9 || std::stoul(*length) > limits.maxBody) return TooLarge();
    }
    return std::nullopt;
  }

  HttpResponse TooLarge() const {
    return ErrorResponse(413, "request body over " + std::to_string(limits.maxBody) + " bytes");
  }

  // The watchdog's view of a connection, set when it started.
  static Connection* ConnectionOf(MHD_Connection* c) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<Connection*>(info->socket_context) : nullptr;
  }

  // Sends response and, for a refusal or an error, closes the connection
  // after it: what the client sent after the refused head is never read.
  MHD_Result Queue(MHD_Connection* c, HttpResponse response) {
    if (Connection* conn = ConnectionOf(c)) {
      std::lock_guard<std::mutex> lock(mutex);
      conn->reading = false;
    }
    auto* body = new std::string(std::move(response.body));
    MHD_Response* r = MHD_create_response_from_buffer_with_free_callback_cls(
        body->size(), body->data(), [](void* p) { delete static_cast<std::string*>(p); }, body);
    if (!r) {
      delete body;
      return MHD_NO;
    }
    if (!response.contentType.empty())
      MHD_add_response_header(r, "Content-Type", response.contentType.c_str());
    for (const auto& [name, value] : kEveryResponse) MHD_add_response_header(r, name, value);
    for (const auto& [name, value] : response.headers)
      MHD_add_response_header(r, name.c_str(), value.c_str());
    if (response.status >= 400) MHD_add_response_header(r, "Connection", "close");
    MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(response.status), r);
    MHD_destroy_response(r);
    return queued;
  }

  // Runs the screen or the handler; what throws becomes a 500.
  template <class F>
  static auto Guarded(F&& f) -> decltype(f()) {
    try {
      return f();
    } catch (const std::bad_alloc&) {
      return ErrorResponse(500, "out of memory");
    } catch (...) {
      return ErrorResponse(500, "internal error");
    }
  }

  // The head of the request on c.
  static HttpRequest Head(MHD_Connection* c, const char* url, const char* method) {
    HttpRequest req;
    req.method = method;
    req.path = url;
    // Header names are kept in lower case (they are case-insensitive), query
    // parameter names as sent (they are not: maxWidth).
    auto collect = [](void* cls, MHD_ValueKind kind, const char* key, size_t keySize,
                      const char* value, size_t valueSize) {
      auto* pairs = static_cast<std::vector<std::pair<std::string, std::string>>*>(cls);
      std::string name(key, keySize);
      pairs->emplace_back(kind == MHD_HEADER_KIND ? Lower(name) : name,
                          value ? std::string(value, valueSize) : std::string());
      return MHD_YES;
    };
    MHD_get_connection_values_n(c, MHD_HEADER_KIND, collect, &req.headers);
    MHD_get_connection_values_n(c, MHD_GET_ARGUMENT_KIND, collect, &req.query);
    return req;
  }

  // The whole request: its answer, unless the server is stopping. It counts
  // among the answers being made until it has been sent (OnCompleted).
  MHD_Result Answer(MHD_Connection* c, Pending& pending) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (closing) return MHD_NO;
      ++answering;
      pending.answered = true;
    }
    return Queue(c, Guarded([&] { return handle(pending.request); }));
  }

  // The library's call for each part of a request: the head (screened),
  // the body's pieces (gathered within the limit), and its end (answered).
  MHD_Result OnRequest(MHD_Connection* c, const char* url, const char* method,
                       const char* data, size_t* size, void** context) {
    auto* pending = static_cast<Pending*>(*context);
    if (!pending) {
      pending = new Pending{Head(c, url, method)};
      *context = pending;
      std::optional<HttpResponse> refusal = CheckHead(pending->request);
      if (!refusal) refusal = Guarded([&] { return screen(pending->request); });
      if (refusal) return Queue(c, std::move(*refusal));
      return MHD_YES;
    }
    if (*size != 0) {
      std::string& body = pending->request.body;
      if (*size > limits.maxBody - body.size()) return Queue(c, TooLarge());
      body.append(data, *size);
      *size = 0;
      return MHD_YES;
    }
    return Answer(c, *pending);
  }

  // A request ended (answered or not): the next one's time starts.
  void OnCompleted(MHD_Connection* c, void** context) {
    auto* pending = static_cast<Pending*>(*context);
    *context = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (pending && pending->answered) --answering;
      if (Connection* conn = ConnectionOf(c)) {
        conn->deadline = Clock::now() + limits.requestTime;
        conn->reading = true;
      }
    }
    delete pending;
    changed.notify_all();
  }

  // A connection opened or closed: the watchdog starts or stops watching.
  // The library calls this before it closes the socket, so the watchdog
  // never shuts a number that another connection took.
  void OnConnection(MHD_Connection* c, void** socketContext, MHD_ConnectionNotificationCode code) {
    std::lock_guard<std::mutex> lock(mutex);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
      auto* conn = new Connection{info ? info->connect_fd : -1, Clock::now() + limits.requestTime};
      connections.insert(conn);
      *socketContext = conn;
    } else if (auto* conn = static_cast<Connection*>(*socketContext)) {
      connections.erase(conn);
      delete conn;
      *socketContext = nullptr;
    }
  }

  // Cuts off the connections whose request has taken longer than allowed:
  // the library's thread then sees the socket end and closes it.
  void Watch() {
    auto tick = std::min<std::chrono::milliseconds>(std::chrono::milliseconds(100),
                                                    limits.requestTime / 4);
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopped) {
      changed.wait_for(lock, tick);
      auto now = Clock::now();
      for (Connection* conn : connections) {
        if (!conn->reading || now < conn->deadline || conn->fd < 0) continue;
        ::shutdown(conn->fd, SHUT_RDWR);
        conn->reading = false;
      }
    }
  }

  static MHD_Result RequestThunk(void* cls, MHD_Connection* c, const char* url,
                                 const char* method, const char*, const char* data, size_t* size,
                                 void** context) {
    return static_cast<Impl*>(cls)->OnRequest(c, url, method, data, size, context);
  }
  static void CompletedThunk(void* cls, MHD_Connection* c, void** context,
                             MHD_RequestTerminationCode) {
    static_cast<Impl*>(cls)->OnCompleted(c, context);
  }
  static void ConnectionThunk(void* cls, MHD_Connection* c, void** socketContext,
                              MHD_ConnectionNotificationCode code) {
    static_cast<Impl*>(cls)->OnConnection(c, socketContext, code);
  }
};

HttpServer::HttpServer(HttpLimits limits, Screen screen, Handle handle)
    : impl_(std::make_unique<Impl>()) {
  impl_->limits = limits;
  impl_->screen = std::move(screen);
  impl_->handle = std::move(handle);
}

HttpServer::~HttpServer() {
  Stop();
  if (impl_->listenFd >= 0) ::close(impl_->listenFd);
}

// A listening socket on the first of host's addresses that binds. Without
// SO_REUSEPORT, so that a second server cannot share the port.
int HttpServer::Bind(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int fd = -1;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) == 0) {
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
      fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
      int yes = 1;
      if (fd >= 0 && (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
                      ::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 64) != 0)) {
        ::close(fd);
        fd = -1;
      }
    }
    ::freeaddrinfo(found);
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
    FailData("cannot listen on " + host + " port " + std::to_string(port) +
             " (in use, or not an address of this machine)");
  impl_->listenFd = fd;
  return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

bool HttpServer::Start() {
  Impl& s = *impl_;
  std::lock_guard<std::mutex> stopLock(s.stopMutex);
  if (s.stopped || s.daemon) return true;
  unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                   MHD_USE_POLL | MHD_USE_ITC;
  std::vector<MHD_OptionItem> options = {
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(s.limits.connectionMemory), nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, s.limits.maxConnections, nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, s.limits.idleSeconds, nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Impl::CompletedThunk), &s},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Impl::ConnectionThunk), &s},
      // Not strict: the strict parser answers a HTTP/1.1 request without Host
      // with a malformed response (its head twice); the screen refuses it.
      {MHD_OPTION_STRICT_FOR_CLIENT, 0, nullptr},
  };
  if (s.listenFd >= 0) options.push_back({MHD_OPTION_LISTEN_SOCKET, s.listenFd, nullptr});
  else flags |= MHD_USE_NO_LISTEN_SOCKET;
  options.push_back({MHD_OPTION_END, 0, nullptr});
  s.daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Impl::RequestThunk, &s,
                              MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
  if (!s.daemon) return false;
  s.listenFd = -1;  // the library's now
  s.watchdog = std::thread([&s] { s.Watch(); });
  return true;
}

void HttpServer::AddConnection(int fd) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!impl_->daemon ||
      MHD_add_connection(impl_->daemon, fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) !=
          MHD_YES)
    ::close(fd);
}

void HttpServer::Wait() {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  impl_->changed.wait(lock, [&] { return impl_->stopRequested; });
}

void HttpServer::Stop() {
  Impl& s = *impl_;
  std::lock_guard<std::mutex> stopLock(s.stopMutex);
  if (s.stopped) return;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.stopRequested = true;
  }
  s.changed.notify_all();
  if (s.daemon) {
    // No new connections; the answers being made are finished and sent.
    if (MHD_socket fd = MHD_quiesce_daemon(s.daemon); fd != MHD_INVALID_SOCKET) ::close(fd);
    {
      std::unique_lock<std::mutex> lock(s.mutex);
      s.closing = true;
      s.changed.wait(lock, [&] { return s.answering == 0; });
    }
    MHD_stop_daemon(s.daemon);
    s.daemon = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.stopped = true;
  }
  s.changed.notify_all();
  if (s.watchdog.joinable()) s.watchdog.join();
}

}  // namespace vexlor::cli
