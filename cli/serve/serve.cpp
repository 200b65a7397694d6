// vexlor serve: the editor's HTTP server. It serves the built-in page, the
// JSON API and the frames of the one INPUT, and nothing else: every request is
// checked against the route table, its Host header against the server's own
// addresses, and its body against the API's fields before anything runs.
#include "cli/serve/serve.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <httplib.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <thread>

#include "cli/base/files.h"
#include "cli/base/program.h"
#include "cli/base/text.h"
#include "explain/check.h"
#include "explain/warnings.h"
#include "pixel/frame_plan.h"

namespace vexlor::cli {

// The page, built into the binary from cli/editor/editor.html.
extern const unsigned char kEditorPage[];
extern const size_t kEditorPageSize;

using nlohmann::json;

// ---- Engine queue ---------------------------------------------------------

void EngineQueue::Acquire(std::unique_lock<std::mutex>& lock) {
  free_.wait(lock, [&] { return !busy_; });
  busy_ = true;
}

void EngineQueue::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = false;
  }
  free_.notify_all();
}

bool EngineQueue::Render(const std::function<void()>& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  uint64_t ticket = ++newestRender_;
  free_.notify_all();  // an older render still waiting can give up now
  free_.wait(lock, [&] { return !busy_ || ticket != newestRender_; });
  if (ticket != newestRender_) return false;
  RunHeld(lock, job);
  return true;
}

void EngineQueue::Run(const std::function<void()>& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  RunHeld(lock, job);
}

// Takes the engine, runs job without holding the lock, and gives the engine
// back however job ends.
void EngineQueue::RunHeld(std::unique_lock<std::mutex>& lock, const std::function<void()>& job) {
  Acquire(lock);
  lock.unlock();
  struct Releaser {
    EngineQueue* queue;
    ~Releaser() { queue->Release(); }
  } releaser{this};
  job();
}

// ---- Helpers --------------------------------------------------------------

namespace {

// A request the API refuses: its status and the one-line reason sent back.
struct HttpError {
  int status;
  std::string message;
};

// JSON text that never throws on bytes that are not UTF-8 (an input's name
// may hold any bytes): such bytes show as U+FFFD. Programs are UTF-8: serve
// refuses any other at its start, and JSON bodies can hold no other.
std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Answers with a JSON body; errors as {"error": message}.
void SendJson(httplib::Response& res, int status, const json& value) {
  res.status = status;
  res.set_content(Dump(value), "application/json");
}

void SendError(httplib::Response& res, int status, const std::string& message) {
  SendJson(res, status, json{{"error", message}});
}

// Length in UTF-16 code units of UTF-8 text, which is how the page's editor
// counts positions: a four-byte character takes two, continuation bytes none.
size_t Utf16Length(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) == 0x80 ? 0 : c >= 0xF0 ? 2 : 1;
  return n;
}

// Position of a view into program, in the page's units.
size_t PageIndex(std::string_view program, const char* at) {
  return Utf16Length(program.substr(0, static_cast<size_t>(at - program.data())));
}

// A note's part as a range in the page's units, or null for a note about no
// one part; `text` is the view the part's offset counts from.
json PartRange(std::string_view program, std::string_view text, const NotePart& part) {
  if (part.length == 0) return nullptr;
  const char* from = text.data() + part.offset;
  return {{"start", PageIndex(program, from)}, {"end", PageIndex(program, from + part.length)}};
}

// The parts with no effect that check found, as ranges the page marks, each
// with its note.
json NoEffectRanges(std::string_view program, const ProgramReport& report) {
  json ranges = json::array();
  auto add = [&](std::string_view text, const std::string& note, const NotePart& part) {
    json range = PartRange(program, text, part);
    if (range.is_null()) return;
    range["why"] = note;
    ranges.push_back(std::move(range));
  };
  for (const StatementReport& r : report.statements)
    for (size_t i = 0; i < r.notes.size(); ++i) add(r.text, r.notes[i], r.parts[i]);
  for (size_t i = 0; i < report.notes.size(); ++i)
    add(program, report.notes[i], report.parts[i]);
  return ranges;
}

// The check report as the API gives it.
json ReportJson(std::string_view program, const ProgramReport& report) {
  json statements = json::array(), effects = json::array(), error = nullptr;
  for (const StatementReport& r : report.statements) {
    size_t start = PageIndex(program, r.text.data());
    json s = {{"number", r.number},
              {"text", std::string(r.text)},
              {"start", start},
              {"end", start + Utf16Length(r.text)},
              {"assigns", r.assigns},
              {"newVariable", r.newVariable},
              {"expression", r.expression},
              {"notes", r.notes},
              {"fixes", r.fixes},
              {"hints", r.hints},
              {"ran", r.ran},
              {"fails", r.fails}};
    if (r.fails) {
      size_t index = start + Utf16Length(r.text.substr(0, r.offset));
      s["error"] = r.error;
      s["column"] = r.column;
      error = {{"statement", r.number}, {"column", r.column}, {"message", r.error},
               {"index", index},        {"hints", r.hints}};
    } else if (r.ran && !r.assigns.empty()) {
      effects.push_back({{"statement", r.number}, {"assigns", r.assigns},
                         {"expression", r.expression}, {"newVariable", r.newVariable}});
    }
    statements.push_back(std::move(s));
  }
  return {{"runs", report.runs},
          {"statements", statements},
          {"effects", effects},
          {"notes", report.notes},
          {"fixes", report.fixes},
          {"hints", report.hints},
          {"noEffect", NoEffectRanges(program, report)},
          {"error", error},
          {"report", FormatReport(report, false)}};
}

// Name of the file the apply command line writes: INPUT's name without its
// folder and extension, with "-filtered" and the extension: .png for a
// picture, INPUT's own for a video (apply writes a video of a video).
std::string OutputName(const std::string& input, bool video) {
  std::string name = input.substr(input.find_last_of('/') + 1);
  std::string extension = ".png";
  if (size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
    if (video) extension = name.substr(dot);
    name.resize(dot);
  }
  if (video && extension == ".png") extension = ".mkv";
  return (name.empty() ? "out" : name) + "-filtered" + extension;
}

// The vexlor apply command line that writes what the page shows: the frame
// of a picture, or the whole of a video (whose frame fr is the one shown).
std::string ApplyCommand(const std::string& program, bool clamp, int64_t frame,
                         std::optional<uint32_t> randSeed, const std::string& input, bool video) {
  std::string output = OutputName(input, video);
  std::string line = "vexlor apply";
  if (clamp) line += " --clamp";
  if (frame != 0 && !video) line += " --frame " + std::to_string(frame);
  if (randSeed) line += " --rand-seed " + std::to_string(*randSeed);
  // A word that starts with '-' would be read as an option.
  if (program.starts_with('-') || input.starts_with('-')) line += " --";
  return line + " " + ShellWord(program) + " " + ShellWord(input) + " " + ShellWord(output);
}

// ---- Request bodies -------------------------------------------------------

// A request body's fields, checked: every field known and of its type.
struct EditRequest {
  std::string program;
  bool clamp = false;
  int64_t frame = 0;
};

// The body as a JSON object.
json ParseBody(const httplib::Request& req) {
  if (req.body.size() > kMaxRequestBody)
    throw HttpError{413, "request body over " + std::to_string(kMaxRequestBody) + " bytes"};
  try {
    json body = json::parse(req.body);
    if (!body.is_object()) throw HttpError{400, "the request body must be a JSON object"};
    return body;
  } catch (const json::parse_error& e) {
    throw HttpError{400, "the request body is not valid JSON (at byte " +
                             std::to_string(e.byte) + ")"};
  }
}

// The fields of a body, allowing those named in `fields` only.
EditRequest ParseEdit(const json& body, std::initializer_list<std::string_view> fields,
                      int64_t frameCount) {
  for (const auto& [key, value] : body.items()) {
    bool known = false;
    for (std::string_view f : fields) known = known || key == f;
    if (!known) throw HttpError{400, "unknown field '" + key + "'"};
  }
  EditRequest edit;
  auto program = body.find("program");
  if (program == body.end() || !program->is_string())
    throw HttpError{400, "'program' must be a string"};
  edit.program = program->get<std::string>();
  if (edit.program.size() > static_cast<size_t>(kMaxTextLength))
    throw HttpError{413, "the program is " + std::to_string(edit.program.size()) +
                             " characters long; the filter holds at most " +
                             std::to_string(kMaxTextLength)};
  if (edit.program.find('\0') != std::string::npos)
    throw HttpError{400, "the program holds a NUL character; a program is text"};
  if (auto clamp = body.find("clamp"); clamp != body.end()) {
    if (!clamp->is_boolean()) throw HttpError{400, "'clamp' must be true or false"};
    edit.clamp = clamp->get<bool>();
  }
  if (auto frame = body.find("frame"); frame != body.end()) {
    int64_t max = frameCount > 1 ? frameCount - 1 : INT32_MAX;
    int64_t min = frameCount > 1 ? 0 : INT32_MIN;
    if (!frame->is_number_integer() || frame->get<int64_t>() < min || frame->get<int64_t>() > max)
      throw HttpError{400, "'frame' must be a whole number from " + std::to_string(min) +
                               " to " + std::to_string(max)};
    edit.frame = frame->get<int64_t>();
  }
  return edit;
}

// Whether name is an IP address literal: such a Host cannot come from a
// rebound DNS name.
bool IsAddressLiteral(std::string name) {
  unsigned char buf[16];
  if (name.size() > 2 && name.front() == '[' && name.back() == ']')
    return ::inet_pton(AF_INET6, name.substr(1, name.size() - 2).c_str(), buf) == 1;
  return ::inet_pton(AF_INET, name.c_str(), buf) == 1;
}

// Equality of host names, which ignore case.
bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// One route: a method and an exact path.
struct Route {
  const char* method;
  const char* path;
};
constexpr Route kRoutes[] = {
    {"GET", "/"},          {"GET", "/api/info"},  {"GET", "/api/source"},
    {"POST", "/api/render"}, {"POST", "/api/check"}, {"POST", "/api/save"},
};

// Why the server library refused a request that no handler saw.
std::string RefusalReason(int status) {
  static constexpr struct {
    int status;
    const char* reason;
  } kReasons[] = {
      {400, "malformed request"},
      {404, "no such page"},
      {413, "request body over 65536 bytes"},
      {414, "request line too long"},
      {500, "internal error"},
  };
  for (const auto& r : kReasons)
    if (r.status == status) return r.reason;
  return "request refused (status " + std::to_string(status) + ")";
}

// The timing headers the page reads.
void SetTiming(httplib::Response& res, const char* name, std::chrono::steady_clock::duration d) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f",
                std::chrono::duration<double, std::milli>(d).count());
  res.set_header(name, text);
}

}  // namespace

// ---- Server ---------------------------------------------------------------

struct EditorServer::Impl {
  ServeOptions options;
  std::unique_ptr<FrameSource> source;
  httplib::Server http;
  EngineQueue engine;
  FrameMapper mapper;  // kept from one render to the next, with its threads
  int port = 0;
  std::atomic<bool> stopRequested{false}, serving{false};

  std::mutex programMutex;  // guards options.program, which Save changes

  // The last frame decoded and its PNG, kept for the next request.
  std::mutex frameMutex;
  int64_t cachedIndex = -1;
  std::shared_ptr<const Picture> cachedFrame;
  std::shared_ptr<const std::vector<uint8_t>> cachedPng;

  Impl(ServeOptions o, std::unique_ptr<FrameSource> s)
      : options(std::move(o)), source(std::move(s)) {}

  // The picture's index for frame number n: a video's own frame, a picture's
  // only one.
  int64_t FrameIndex(int64_t n) const { return source->video() ? n : 0; }

  // The frame at index, decoded once for all the requests that want it.
  std::shared_ptr<const Picture> SourceFrame(int64_t index) {
    std::lock_guard<std::mutex> lock(frameMutex);
    if (index != cachedIndex || !cachedFrame) {
      cachedFrame = std::make_shared<const Picture>(source->Frame(index));
      cachedPng.reset();
      cachedIndex = index;
    }
    return cachedFrame;
  }

  // The frame at index as a PNG, encoded once.
  std::shared_ptr<const std::vector<uint8_t>> SourcePng(int64_t index) {
    std::shared_ptr<const Picture> frame = SourceFrame(index);
    std::lock_guard<std::mutex> lock(frameMutex);
    if (!cachedPng || cachedIndex != index)
      cachedPng = std::make_shared<const std::vector<uint8_t>>(EncodePng(*frame, kPngStoredLevel));
    return cachedPng;
  }

  // Whether a Host header names this server: its port, and a name that is
  // localhost, an address literal or the --host given.
  bool IsOwnHost(const std::string& host) const {
    size_t colon = host.rfind(':');
    if (colon == std::string::npos || host.substr(colon + 1) != std::to_string(port))
      return false;
    std::string name = host.substr(0, colon);
    return SameText(name, "localhost") || IsAddressLiteral(name) || SameText(name, options.host);
  }

  // Refuses what the routes do not serve and requests from other sites,
  // before any body is read.
  httplib::Server::HandlerResponse Screen(const httplib::Request& req, httplib::Response& res) {
    if (!IsOwnHost(req.get_header_value("Host"))) {
      SendError(res, 403, "the Host header does not name this server");
      return httplib::Server::HandlerResponse::Handled;
    }
    std::string allowed;  // the methods the path takes
    bool methodKnown = false;
    for (const Route& r : kRoutes) {
      if (req.path != r.path) continue;
      allowed += (allowed.empty() ? "" : ", ") + std::string(r.method);
      methodKnown = methodKnown || req.method == r.method ||
                    (req.method == "HEAD" && std::string_view(r.method) == "GET");
    }
    if (allowed.empty()) {
      SendError(res, 404, "no such page: " + req.path);
    } else if (!methodKnown) {
      res.set_header("Allow", allowed);
      SendError(res, 405, req.method + " is not allowed on " + req.path);
    } else if (req.method == "POST" && req.has_header("Origin") &&
               req.get_header_value("Origin") != "http://" + req.get_header_value("Host")) {
      SendError(res, 403, "requests from other sites are refused");
    } else if (req.method == "POST" &&
               !req.get_header_value("Content-Type").starts_with("application/json")) {
      SendError(res, 415, "the request body must be JSON (Content-Type: application/json)");
    } else {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    return httplib::Server::HandlerResponse::Handled;
  }

  // Runs a handler; a refusal or failure becomes a JSON error.
  httplib::Server::Handler Guard(void (Impl::*handler)(const httplib::Request&,
                                                       httplib::Response&)) {
    return [this, handler](const httplib::Request& req, httplib::Response& res) {
      res.set_header("Cache-Control", "no-store");
      try {
        (this->*handler)(req, res);
      } catch (const HttpError& e) {
        SendError(res, e.status, e.message);
      } catch (const Failure& e) {
        SendError(res, 500, e.what());
      } catch (const std::bad_alloc&) {
        SendError(res, 500, "out of memory");
      }
    };
  }

  // GET /: the page, which may load nothing but from this server.
  void Page(const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; img-src 'self' blob:; style-src 'unsafe-inline'; "
                   "script-src 'unsafe-inline'; connect-src 'self'; base-uri 'none'; "
                   "form-action 'none'; frame-ancestors 'none'");
    res.set_header("X-Frame-Options", "DENY");
    res.set_content(reinterpret_cast<const char*>(kEditorPage), kEditorPageSize,
                    "text/html; charset=utf-8");
  }

  // GET /api/info: what is edited, and the settings the page starts with.
  void Info(const httplib::Request&, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(programMutex);
    SendJson(res, 200,
             {{"input", options.input},
              {"width", source->width()},
              {"height", source->height()},
              {"frames", source->count()},
              {"video", source->video()},
              {"program", options.program},
              {"clamp", options.clamp},
              {"frame", options.frame},
              {"file", options.programFile.empty() ? json(nullptr) : json(options.programFile)},
              {"maxProgramLength", kMaxTextLength}});
  }

  // The frame number of a ?frame= parameter.
  int64_t FrameParam(const httplib::Request& req) {
    if (!req.has_param("frame")) return 0;
    std::string text = req.get_param_value("frame");
    int64_t max = source->video() ? source->count() - 1 : INT32_MAX;
    int64_t min = source->video() ? 0 : INT32_MIN;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < min || v > max)
      throw HttpError{400, "frame must be a whole number from " + std::to_string(min) + " to " +
                               std::to_string(max)};
    return v;
  }

  // GET /api/source: the source frame.
  void Source(const httplib::Request& req, httplib::Response& res) {
    std::shared_ptr<const std::vector<uint8_t>> png = SourcePng(FrameIndex(FrameParam(req)));
    res.set_content(reinterpret_cast<const char*>(png->data()), png->size(), "image/png");
  }

  // POST /api/render: the frame as apply filters it, or why the program
  // does not run.
  void Render(const httplib::Request& req, httplib::Response& res) {
    EditRequest edit = ParseEdit(ParseBody(req), {"program", "clamp", "frame"}, source->count());
    CheckProgramLength(edit.program);
    std::shared_ptr<const Picture> in = SourceFrame(FrameIndex(edit.frame));
    Picture out{in->width, in->height, std::vector<uint32_t>(in->pixels.size())};
    std::optional<ProgramReport> failed;
    std::chrono::steady_clock::duration took{};
    bool ran = engine.Render([&] {
      Filter filter(edit.program, edit.clamp, {.countCarries = false, .mapper = &mapper});
      if (!filter.runs()) {
        failed = CheckProgram(edit.program);
        return;
      }
      filter.StartRand(options.randSeed, 0);
      auto start = std::chrono::steady_clock::now();
      filter.Map(in->View(), out.View(), static_cast<int32_t>(edit.frame));
      took = std::chrono::steady_clock::now() - start;
    });
    if (!ran) throw HttpError{409, "superseded by a newer render request"};
    if (failed) {
      json body = ReportJson(edit.program, *failed);
      body["message"] = kProgramDoesNotRun;
      SendJson(res, 422, body);
      return;
    }
    auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> png = EncodePng(out, kPngStoredLevel);
    SetTiming(res, "X-Render-Ms", took);
    SetTiming(res, "X-Encode-Ms", std::chrono::steady_clock::now() - start);
    res.set_content(reinterpret_cast<const char*>(png.data()), png.size(), "image/png");
  }

  // POST /api/check: check's report, the test message and the lines to copy.
  void Check(const httplib::Request& req, httplib::Response& res) {
    EditRequest edit = ParseEdit(ParseBody(req), {"program", "clamp", "frame"}, source->count());
    CheckProgramLength(edit.program);
    FilterSettings settings{};
    settings.clamp = edit.clamp ? 1 : 0;
    SetSettingsText(settings, edit.program);
    json body;
    engine.Run([&] {
      body = ReportJson(edit.program, CheckProgram(edit.program));
      body["warnings"] = ProgramWarnings(edit.program);
      body["testMessage"] = DialogTestMessage(edit.program);
    });
    body["scriptLine"] = ScriptLine(settings);
    body["applyCommand"] = ApplyCommand(edit.program, edit.clamp, edit.frame, options.randSeed,
                                        options.input, source->video());
    SendJson(res, 200, body);
  }

  // POST /api/save: the program into -f FILE, whole or not at all.
  void Save(const httplib::Request& req, httplib::Response& res) {
    EditRequest edit = ParseEdit(ParseBody(req), {"program"}, source->count());
    if (options.programFile.empty())
      throw HttpError{409, "no program file to save to: start vexlor serve with -f FILE"};
    // The file's last line break is dropped when it is read back.
    std::string text = edit.program + "\n";
    std::lock_guard<std::mutex> lock(programMutex);
    WriteFileAtomically(options.programFile,
                        std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    options.program = edit.program;  // a reloaded page starts from the saved text
    SendJson(res, 200, {{"saved", true}, {"file", options.programFile}});
  }

  // Sets the limits, the screening and the routes up.
  void Install() {
    http.set_payload_max_length(kMaxRequestBody);
    // The library's default adds SO_REUSEPORT, with which a second server
    // binds the same port and takes part of the first one's requests.
    http.set_socket_options([](socket_t sock) {
      int yes = 1;
      ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // An idle browser connection holds a worker, and a stop waits for it.
    http.set_keep_alive_timeout(2);
    http.set_pre_routing_handler(
        [this](const httplib::Request& req, httplib::Response& res) { return Screen(req, res); });
    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request&, httplib::Response& res) {
          if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
          SendError(res, res.status, RefusalReason(res.status));
          return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                  std::exception_ptr) { SendError(res, 500, "internal error"); });
    http.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                              {"Referrer-Policy", "no-referrer"}});
    http.Get("/", Guard(&Impl::Page));
    http.Get("/api/info", Guard(&Impl::Info));
    http.Get("/api/source", Guard(&Impl::Source));
    http.Post("/api/render", Guard(&Impl::Render));
    http.Post("/api/check", Guard(&Impl::Check));
    http.Post("/api/save", Guard(&Impl::Save));
  }
};

EditorServer::EditorServer(ServeOptions options, std::unique_ptr<FrameSource> source)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(source))) {
  impl_->Install();
}

EditorServer::~EditorServer() { Stop(); }

int EditorServer::Bind() {
  Impl& s = *impl_;
  const std::string& host = s.options.host;
  if (s.options.port == 0) s.port = s.http.bind_to_any_port(host);
  else s.port = s.http.bind_to_port(host, s.options.port) ? s.options.port : -1;
  if (s.port <= 0)
    FailData("cannot listen on " + host + " port " + std::to_string(s.options.port) +
             " (in use, or not an address of this machine)");
  return s.port;
}

bool EditorServer::Serve() {
  impl_->serving = true;
  bool ok = impl_->stopRequested || impl_->http.listen_after_bind();
  impl_->serving = false;
  return ok;
}

void EditorServer::Stop() {
  impl_->stopRequested = true;
  // The server may be between its start and its first wait for connections,
  // where a stop is not yet seen: repeat until it has returned.
  while (impl_->serving) {
    impl_->http.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string EditorServer::Url() const {
  const std::string& host = impl_->options.host;
  std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return "http://" + shown + ":" + std::to_string(impl_->port) + "/";
}

}  // namespace vexlor::cli
