// vexlor serve: the editor's HTTP server. It serves the built-in page, the
// JSON API and the frames of the one INPUT, and nothing else: every request is
// checked against the route table, its Host header against the server's own
// addresses, and its body against the API's fields before anything runs.
#include "cli/serve/serve.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "cli/base/files.h"
#include "cli/base/program.h"
#include "cli/base/text.h"
#include "explain/check.h"
#include "explain/freeform.h"
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

// Length in UTF-16 code units of UTF-8 text, which is how the page's editor
// counts positions: a four-byte character takes two, continuation bytes none.
size_t Utf16Length(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) == 0x80 ? 0 : c >= 0xF0 ? 2 : 1;
  return n;
}

// The page's text and the text that runs of it: positions in the report,
// which speak of the text that runs, are given in the page's text.
struct PageText {
  std::string_view written;  // the page's text
  const ProgramText& text;   // what runs of it

  // Position of a place in the text that runs, in the page's units.
  size_t Index(const char* at) const {
    size_t runsOffset = static_cast<size_t>(at - text.runs.data());
    return Utf16Length(written.substr(0, WrittenOffset(text, runsOffset)));
  }
  // Position just past a part of the text that runs that ends at `end`
  // (a part of at least one byte): past its last byte as written.
  size_t End(const char* end) const {
    size_t last = static_cast<size_t>(end - text.runs.data()) - 1;
    return Utf16Length(written.substr(0, WrittenOffset(text, last) + 1));
  }
};

// A note's part as a range in the page's units, or null for a note about no
// one part; `text` is the view the part's offset counts from.
json PartRange(const PageText& page, std::string_view text, const NotePart& part) {
  if (part.length == 0) return nullptr;
  const char* from = text.data() + part.offset;
  return {{"start", page.Index(from)}, {"end", page.End(from + part.length)}};
}

// The parts with no effect that check found, as ranges the page marks, each
// with its note.
json NoEffectRanges(const PageText& page, const ProgramReport& report) {
  std::string_view program = page.text.runs;
  json ranges = json::array();
  auto add = [&](std::string_view text, const std::string& note, const NotePart& part) {
    json range = PartRange(page, text, part);
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
// Positions (start, end, index, noEffect) count in the page's text; "runsAs"
// is the text that runs, which the statements' texts are parts of.
json ReportJson(const PageText& page, const ProgramReport& report) {
  json statements = json::array(), effects = json::array(), error = nullptr;
  for (const StatementReport& r : report.statements) {
    size_t start = page.Index(r.text.data());
    json s = {{"number", r.number},
              {"text", std::string(r.text)},
              {"start", start},
              {"end", r.text.empty() ? start : page.End(r.text.data() + r.text.size())},
              {"assigns", r.assigns},
              {"newVariable", r.newVariable},
              {"expression", r.expression},
              {"notes", r.notes},
              {"fixes", r.fixes},
              {"hints", r.hints},
              {"quirks", r.quirks},
              {"ran", r.ran},
              {"fails", r.fails}};
    if (r.fails) {
      size_t index = page.Index(r.text.data() + r.offset);
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
          {"runsAs", page.text.runs},
          {"statements", statements},
          {"effects", effects},
          {"notes", report.notes},
          {"fixes", report.fixes},
          {"hints", report.hints},
          {"noEffect", NoEffectRanges(page, report)},
          {"error", error},
          {"report", "runs as: " + VisibleProgram(page.text.runs) + "\n" +
                         FormatReport(report, false)}};
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
                         const ServeOptions& options, bool video) {
  const std::string& input = options.input;
  std::string output = OutputName(input, video);
  std::string line = "vexlor apply";
  if (!clamp) line += " --carry";
  if (options.exactText) line += " --exact-text";
  if (options.lenient) line += " --lenient";
  const std::optional<uint32_t>& randSeed = options.randSeed;
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
  bool clamp = true;
  int64_t frame = 0;
};

// The frame numbers a request may name: a video's own frames (a one-frame
// video has frame 0 only), or for a picture any fr the filter takes.
struct FrameRange {
  int64_t min, max;
};
FrameRange FramesOf(bool video, int64_t count) {
  return video ? FrameRange{0, count - 1} : FrameRange{INT32_MIN, INT32_MAX};
}

std::string FrameRangeText(FrameRange range) {
  return "a whole number from " + std::to_string(range.min) + " to " + std::to_string(range.max);
}

// Why a field's value is refused: what the field must be, or that the body
// has no such field.
HttpError FieldError(const std::string& key, FrameRange frames) {
  if (key == "program") return {400, "'program' must be a string"};
  if (key == "clamp") return {400, "'clamp' must be true or false"};
  if (key == "frame") return {400, "'frame' must be " + FrameRangeText(frames)};
  return {400, "unknown field '" + key + "'"};
}

// A JSON number as a whole number, when it is one that int64_t holds: the
// parser keeps numbers over INT64_MAX unsigned, which must not wrap.
std::optional<int64_t> WholeNumber(const json& value) {
  if (value.is_number_unsigned()) {
    uint64_t n = value.get<uint64_t>();
    if (n > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<int64_t>(n);
  }
  if (value.is_number_integer()) return value.get<int64_t>();
  return std::nullopt;
}

// The body as a JSON object. A number too large for a double (1e400) stops
// the parser; the field it was the value of is named.
json ParseBody(const std::string& text, FrameRange frames) {
  std::string key;  // the last key of the top object, where parsing stopped
  json::parser_callback_t track = [&](int depth, json::parse_event_t event, json& parsed) {
    if (depth == 1 && event == json::parse_event_t::key) key = parsed.get<std::string>();
    return true;
  };
  try {
    json body = json::parse(text, track);
    if (!body.is_object()) throw HttpError{400, "the request body must be a JSON object"};
    return body;
  } catch (const json::parse_error& e) {
    throw HttpError{400, "the request body is not valid JSON (at byte " +
                             std::to_string(e.byte) + ")"};
  } catch (const json::out_of_range&) {
    if (key.empty()) throw HttpError{400, "the request body must be a JSON object"};
    throw FieldError(key, frames);
  }
}

// The fields of a body, allowing those named in `fields` only.
EditRequest ParseEdit(const json& body, std::initializer_list<std::string_view> fields,
                      FrameRange frames) {
  for (const auto& [key, value] : body.items()) {
    bool known = false;
    for (std::string_view f : fields) known = known || key == f;
    if (!known) throw HttpError{400, "unknown field '" + key + "'"};
  }
  EditRequest edit;
  auto program = body.find("program");
  if (program == body.end() || !program->is_string()) throw FieldError("program", frames);
  edit.program = program->get<std::string>();
  if (edit.program.size() > static_cast<size_t>(kMaxTextLength))
    throw HttpError{413, "the program is " + std::to_string(edit.program.size()) +
                             " characters long; the filter holds at most " +
                             std::to_string(kMaxTextLength)};
  if (edit.program.find('\0') != std::string::npos)
    throw HttpError{400, "the program holds a NUL character; a program is text"};
  if (auto clamp = body.find("clamp"); clamp != body.end()) {
    if (!clamp->is_boolean()) throw FieldError("clamp", frames);
    edit.clamp = clamp->get<bool>();
  }
  if (auto frame = body.find("frame"); frame != body.end()) {
    std::optional<int64_t> n = WholeNumber(*frame);
    if (!n || *n < frames.min || *n > frames.max) throw FieldError("frame", frames);
    edit.frame = *n;
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

// Whether a Content-Type names JSON: the media type application/json, in
// any case, with parameters (such as charset) or without.
bool IsJsonType(std::string_view value) {
  std::string_view type = value.substr(0, value.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.remove_suffix(1);
  while (!type.empty() && (type.front() == ' ' || type.front() == '\t')) type.remove_prefix(1);
  return SameText(type, "application/json");
}

// The file Save writes: -f FILE, or where a symbolic link there leads, so
// that the link stays and its target gets the program. A link to nowhere is
// refused: the file it would make is not the one the user named.
std::string SaveTarget(const std::string& file) {
  struct stat st;
  if (::lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return file;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(file.c_str(), nullptr), &std::free);
  if (!real)
    throw HttpError{500, file + " is a symbolic link that leads to no file (" +
                             std::strerror(errno) + "): not saved"};
  return real.get();
}

// The timing headers the page reads.
void SetTiming(HttpResponse& res, const char* name, std::chrono::steady_clock::duration d) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f",
                std::chrono::duration<double, std::milli>(d).count());
  res.headers.emplace_back(name, text);
}

HttpResponse JsonResponse(int status, const json& value) {
  return {status, "application/json", Dump(value), {}};
}

}  // namespace

// ---- Server ---------------------------------------------------------------

struct EditorServer::Impl {
  ServeOptions options;
  std::unique_ptr<FrameSource> source;
  HttpServer http;
  EngineQueue engine;
  FrameMapper mapper;  // kept from one render to the next, with its threads
  int port = 0;

  std::mutex programMutex;  // guards options.program, which Save changes

  // The last frame decoded and its PNG, kept for the next request.
  std::mutex frameMutex;
  int64_t cachedIndex = -1;
  std::shared_ptr<const Picture> cachedFrame;
  std::shared_ptr<const std::vector<uint8_t>> cachedPng;

  // One route: a method, an exact path and its handler.
  struct Route {
    const char* method;
    const char* path;
    HttpResponse (Impl::*handler)(const HttpRequest&);
  };
  static const Route kRoutes[6];

  Impl(ServeOptions o, std::unique_ptr<FrameSource> s, HttpLimits limits)
      : options(std::move(o)),
        source(std::move(s)),
        http(
            limits, [this](const HttpRequest& req) { return Screen(req); },
            [this](const HttpRequest& req) { return Dispatch(req); }) {}

  // The picture's index for frame number n: a video's own frame, a picture's
  // only one.
  int64_t FrameIndex(int64_t n) const { return source->video() ? n : 0; }

  FrameRange Frames() const { return FramesOf(source->video(), source->count()); }

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

  // The route of a request, or null; `allowed` gets the methods its path takes.
  static const Route* FindRoute(const HttpRequest& req, std::string& allowed) {
    const Route* found = nullptr;
    for (const Route& r : kRoutes) {
      if (req.path != r.path) continue;
      allowed += (allowed.empty() ? "" : ", ") + std::string(r.method);
      if (req.method == r.method || (req.method == "HEAD" && std::string_view(r.method) == "GET"))
        found = &r;
    }
    return found;
  }

  // Refuses what the routes do not serve and requests from other sites,
  // before any body is read.
  std::optional<HttpResponse> Screen(const HttpRequest& req) {
    const std::string* host = req.Header("host");
    if (!host || !IsOwnHost(*host))
      return ErrorResponse(403, "the Host header does not name this server");
    std::string allowed;
    if (FindRoute(req, allowed)) {
      if (req.method != "POST") return std::nullopt;
    } else if (allowed.empty()) {
      return ErrorResponse(404, "no such page: " + req.path);
    } else {
      HttpResponse refused = ErrorResponse(405, req.method + " is not allowed on " + req.path);
      refused.headers.emplace_back("Allow", allowed);
      return refused;
    }
    for (const auto& [name, value] : req.headers)
      if (name == "origin" && value != "http://" + *host)
        return ErrorResponse(403, "requests from other sites are refused");
    const std::string* type = req.Header("content-type");
    if (!type || req.HeaderCount("content-type") != 1 || !IsJsonType(*type))
      return ErrorResponse(415, "the request body must be JSON (Content-Type: application/json)");
    return std::nullopt;
  }

  // Answers a screened request through its route's handler; a refusal or
  // failure becomes a JSON error.
  HttpResponse Dispatch(const HttpRequest& req) {
    std::string allowed;
    const Route* route = FindRoute(req, allowed);
    HttpResponse res;
    try {
      res = route ? (this->*(route->handler))(req) : ErrorResponse(404, "no such page");
    } catch (const HttpError& e) {
      res = ErrorResponse(e.status, e.message);
    } catch (const Failure& e) {
      res = ErrorResponse(500, e.what());
    }
    res.headers.emplace_back("Cache-Control", "no-store");
    return res;
  }

  // GET /: the page, which may load nothing but from this server.
  HttpResponse Page(const HttpRequest&) {
    return {200,
            "text/html; charset=utf-8",
            std::string(reinterpret_cast<const char*>(kEditorPage), kEditorPageSize),
            {{"Content-Security-Policy",
              "default-src 'none'; img-src 'self' blob:; style-src 'unsafe-inline'; "
              "script-src 'unsafe-inline'; connect-src 'self'; base-uri 'none'; "
              "form-action 'none'; frame-ancestors 'none'"},
             {"X-Frame-Options", "DENY"}}};
  }

  // GET /api/info: what is edited, and the settings the page starts with.
  HttpResponse Info(const HttpRequest&) {
    std::lock_guard<std::mutex> lock(programMutex);
    return JsonResponse(
        200, {{"input", options.input},
              {"width", source->width()},
              {"height", source->height()},
              {"frames", source->count()},
              {"video", source->video()},
              {"program", options.program},
              {"clamp", options.clamp},
              {"exactText", options.exactText},
              {"lenient", options.lenient},
              {"frame", options.frame},
              {"file", options.programFile.empty() ? json(nullptr) : json(options.programFile)},
              {"maxProgramLength", kMaxTextLength}});
  }

  // The frame number of a ?frame= parameter.
  int64_t FrameParam(const HttpRequest& req) {
    const std::string* text = req.Query("frame");
    if (!text) return 0;
    FrameRange range = Frames();
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || errno != 0 || v < range.min || v > range.max)
      throw HttpError{400, "frame must be " + FrameRangeText(range)};
    return v;
  }

  // GET /api/source: the source frame.
  HttpResponse Source(const HttpRequest& req) {
    std::shared_ptr<const std::vector<uint8_t>> png = SourcePng(FrameIndex(FrameParam(req)));
    return {200, "image/png", std::string(png->begin(), png->end()), {}};
  }

  // POST /api/render: the frame as apply filters it, or why the program
  // does not run.
  // The text that runs of a page's text: free-form unless the server runs
  // texts byte for byte.
  ProgramText ToRun(const std::string& written) const {
    return options.exactText ? ExactProgram(written) : FreeFormProgram(written);
  }

  // The answer to a page's text that is refused before it runs: free-form
  // text that joins two tokens ("refusedAt" marks the place in the page's
  // text), a program too long for the settings record.
  static HttpResponse RefusedText(const std::string& written, const ProgramText& text) {
    return JsonResponse(422, {{"runs", false},
                              {"runsAs", text.runs},
                              {"message", text.refusal},
                              {"refusedAt", Utf16Length(std::string_view(written).substr(0, text.refusedAt))}});
  }

  HttpResponse Render(const HttpRequest& req) {
    EditRequest edit = ParseEdit(ParseBody(req.body, Frames()), {"program", "clamp", "frame"},
                                 Frames());
    ProgramText text = ToRun(edit.program);
    if (!text.refusal.empty()) return RefusedText(edit.program, text);
    CheckProgramLength(text.runs);
    std::shared_ptr<const Picture> in = SourceFrame(FrameIndex(edit.frame));
    Picture out{in->width, in->height, std::vector<uint32_t>(in->pixels.size())};
    std::optional<ProgramReport> failed;
    std::vector<std::string> warnings;
    std::chrono::steady_clock::duration took{};
    bool ran = engine.Render([&] {
      Filter filter(text.runs, edit.clamp, {.countCarries = false, .mapper = &mapper});
      if (!filter.runs()) {
        failed = CheckProgram(text.runs);
        return;
      }
      // A program that cannot do what it says is an error here as in apply.
      if (!options.lenient) warnings = ProgramWarnings(text.runs);
      if (!warnings.empty()) {
        failed = CheckProgram(text.runs);
        return;
      }
      filter.StartRand(options.randSeed, 0);
      auto start = std::chrono::steady_clock::now();
      filter.Map(in->View(), out.View(), static_cast<int32_t>(edit.frame));
      took = std::chrono::steady_clock::now() - start;
    });
    if (!ran) throw HttpError{409, "superseded by a newer render request"};
    if (failed) {
      json body = ReportJson(PageText{edit.program, text}, *failed);
      body["warnings"] = warnings;
      body["doesWhatItSays"] = warnings.empty();
      body["message"] = warnings.empty() ? std::string(kProgramDoesNotRun)
                                         : "the program cannot do what it says: " + warnings[0];
      return JsonResponse(422, body);
    }
    auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> png = EncodePng(out, kPngStoredLevel);
    HttpResponse res{200, "image/png", std::string(png.begin(), png.end()), {}};
    SetTiming(res, "X-Render-Ms", took);
    SetTiming(res, "X-Encode-Ms", std::chrono::steady_clock::now() - start);
    return res;
  }

  // POST /api/check: check's report, the test message and the lines to copy.
  HttpResponse Check(const HttpRequest& req) {
    EditRequest edit = ParseEdit(ParseBody(req.body, Frames()), {"program", "clamp", "frame"},
                                 Frames());
    ProgramText text = ToRun(edit.program);
    if (!text.refusal.empty()) return RefusedText(edit.program, text);
    CheckProgramLength(text.runs);
    FilterSettings settings{};
    settings.clamp = edit.clamp ? 1 : 0;
    SetSettingsText(settings, text.runs);
    json body;
    engine.Run([&] {
      body = ReportJson(PageText{edit.program, text}, CheckProgram(text.runs));
      body["warnings"] = ProgramWarnings(text.runs);
      body["testMessage"] = DialogTestMessage(text.runs);
    });
    body["doesWhatItSays"] = options.lenient || body["warnings"].empty();
    body["scriptLine"] = ScriptLine(settings);
    // The text that runs: one line, the same under free-form reading.
    body["applyCommand"] = ApplyCommand(options.exactText ? edit.program : text.runs, edit.clamp,
                                        edit.frame, options, source->video());
    return JsonResponse(200, body);
  }

  // POST /api/save: the program into -f FILE, whole or not at all.
  HttpResponse Save(const HttpRequest& req) {
    EditRequest edit = ParseEdit(ParseBody(req.body, Frames()), {"program"}, Frames());
    if (options.programFile.empty())
      throw HttpError{409, "no program file to save to: start vexlor serve with -f FILE"};
    // The file's last line break is dropped when it is read back.
    std::string text = edit.program + "\n";
    std::lock_guard<std::mutex> lock(programMutex);
    WriteFileAtomically(SaveTarget(options.programFile),
                        std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    options.program = edit.program;  // a reloaded page starts from the saved text
    return JsonResponse(200, {{"saved", true}, {"file", options.programFile}});
  }
};

const EditorServer::Impl::Route EditorServer::Impl::kRoutes[6] = {
    {"GET", "/", &Impl::Page},
    {"GET", "/api/info", &Impl::Info},
    {"GET", "/api/source", &Impl::Source},
    {"POST", "/api/render", &Impl::Render},
    {"POST", "/api/check", &Impl::Check},
    {"POST", "/api/save", &Impl::Save},
};

EditorServer::EditorServer(ServeOptions options, std::unique_ptr<FrameSource> source,
                           HttpLimits limits)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(source), limits)) {}

EditorServer::~EditorServer() { Stop(); }

int EditorServer::Bind() {
  impl_->port = impl_->http.Bind(impl_->options.host, impl_->options.port);
  return impl_->port;
}

bool EditorServer::Start() { return impl_->http.Start(); }

bool EditorServer::Serve() {
  if (!Start()) return false;
  impl_->http.Wait();
  return true;
}

void EditorServer::AddConnection(int fd) { impl_->http.AddConnection(fd); }

void EditorServer::Stop() { impl_->http.Stop(); }

std::string EditorServer::Url() const {
  const std::string& host = impl_->options.host;
  std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return "http://" + shown + ":" + std::to_string(impl_->port) + "/";
}

}  // namespace vexlor::cli
