// vexlor serve: the editor's HTTP server. It serves the built-in page, the
// JSON API and the frames of the one INPUT, and nothing else: every request is
// checked against the route table, its Host header against the server's own
// addresses, and its body against the API's fields before anything runs.
#include "cli/serve/serve.h"

#include "cli/serve/frame_cache.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
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
#include "explain/language.h"
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

// The formats a picture is sent in: the exact PNG, or a JPEG preview that
// encodes in a few milliseconds.
enum class PictureKind { kPng, kJpeg };

// The largest preview box a request may ask for, in pixels a side.
constexpr int64_t kMaxPreviewSide = 65536;

// Memory for the decoded source frames the editor keeps: at 1920x1080
// about 30 frames.
constexpr size_t kFrameCacheBytes = size_t{256} << 20;

// A request body's fields, checked: every field known and of its type.
struct EditRequest {
  std::string program;
  bool clamp = true;
  int64_t frame = 0;
  int32_t x = 0, y = 0;             // a pixel, top line first (trace)
  PictureKind format = PictureKind::kPng;
  int32_t maxWidth = 0, maxHeight = 0;  // the box the picture is reduced to fit; 0: none
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

// What the numbers of a request may be: the frames, and the frame's size for
// a pixel's place.
struct Bounds {
  FrameRange frames;
  int32_t width, height;
};

// The range of a whole-number field.
FrameRange NumberRange(const std::string& key, const Bounds& b) {
  if (key == "frame") return b.frames;
  if (key == "x") return {0, b.width - 1};
  if (key == "y") return {0, b.height - 1};
  return {1, kMaxPreviewSide};  // maxWidth, maxHeight
}

// Why a field's value is refused: what the field must be, or that the body
// has no such field.
HttpError FieldError(const std::string& key, const Bounds& b) {
  if (key == "program") return {400, "'program' must be a string"};
  if (key == "clamp") return {400, "'clamp' must be true or false"};
  if (key == "format") return {400, "'format' must be \"png\" or \"jpeg\""};
  if (key == "frame" || key == "x" || key == "y" || key == "maxWidth" || key == "maxHeight")
    return {400, "'" + key + "' must be " + FrameRangeText(NumberRange(key, b))};
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
json ParseBody(const std::string& text, const Bounds& bounds) {
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
    throw FieldError(key, bounds);
  }
}

// A whole-number field's value, checked against its range; `fallback` when
// the body has no such field, and a refusal when it must have one.
int64_t NumberField(const json& body, const std::string& key, const Bounds& bounds,
                    std::optional<int64_t> fallback) {
  auto it = body.find(key);
  if (it == body.end()) {
    if (!fallback) throw HttpError{400, "'" + key + "' is missing"};
    return *fallback;
  }
  FrameRange range = NumberRange(key, bounds);
  std::optional<int64_t> n = WholeNumber(*it);
  if (!n || *n < range.min || *n > range.max) throw FieldError(key, bounds);
  return *n;
}

// The fields of a body, allowing those named in `fields` only; x and y are
// required where they are allowed.
EditRequest ParseEdit(const json& body, std::initializer_list<std::string_view> fields,
                      const Bounds& bounds) {
  bool pixel = false;
  for (std::string_view f : fields) pixel = pixel || f == "x";
  for (const auto& [key, value] : body.items()) {
    bool known = false;
    for (std::string_view f : fields) known = known || key == f;
    if (!known) throw HttpError{400, "unknown field '" + key + "'"};
  }
  EditRequest edit;
  auto program = body.find("program");
  if (program == body.end() || !program->is_string()) throw FieldError("program", bounds);
  edit.program = program->get<std::string>();
  if (edit.program.size() > static_cast<size_t>(kMaxTextLength))
    throw HttpError{413, "the program is " + std::to_string(edit.program.size()) +
                             " characters long; the filter holds at most " +
                             std::to_string(kMaxTextLength)};
  if (edit.program.find('\0') != std::string::npos)
    throw HttpError{400, "the program holds a NUL character; a program is text"};
  if (auto clamp = body.find("clamp"); clamp != body.end()) {
    if (!clamp->is_boolean()) throw FieldError("clamp", bounds);
    edit.clamp = clamp->get<bool>();
  }
  edit.frame = NumberField(body, "frame", bounds, 0);
  if (pixel) {
    edit.x = static_cast<int32_t>(NumberField(body, "x", bounds, std::nullopt));
    edit.y = static_cast<int32_t>(NumberField(body, "y", bounds, std::nullopt));
  }
  if (auto format = body.find("format"); format != body.end()) {
    if (*format == "jpeg") edit.format = PictureKind::kJpeg;
    else if (*format != "png") throw FieldError("format", bounds);
  }
  edit.maxWidth = static_cast<int32_t>(NumberField(body, "maxWidth", bounds, 0));
  edit.maxHeight = static_cast<int32_t>(NumberField(body, "maxHeight", bounds, 0));
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

// ---- Pictures sent ----------------------------------------------------------

// The picture reduced to fit a box of maxWidth x maxHeight (0: no bound on
// that side) by a whole factor, each pixel the mean of its block; the
// picture itself when it fits.
Picture Reduced(const Picture& p, int32_t maxWidth, int32_t maxHeight) {
  auto factorFor = [](int32_t size, int32_t max) { return max ? (size + max - 1) / max : 1; };
  int32_t f = std::max(factorFor(p.width, maxWidth), factorFor(p.height, maxHeight));
  if (f <= 1) return p;
  Picture out{(p.width + f - 1) / f, (p.height + f - 1) / f, {}};
  out.pixels.resize(size_t(out.width) * size_t(out.height));
  for (int32_t oy = 0; oy < out.height; ++oy)
    for (int32_t ox = 0; ox < out.width; ++ox) {
      uint32_t sum[3] = {}, n = 0;
      for (int32_t y = oy * f; y < std::min(p.height, oy * f + f); ++y)
        for (int32_t x = ox * f; x < std::min(p.width, ox * f + f); ++x, ++n) {
          uint32_t px = p.pixels[size_t(y) * size_t(p.width) + size_t(x)];
          for (int c = 0; c < 3; ++c) sum[c] += (px >> kChannelShift[c]) & 0xFFu;
        }
      uint32_t px = 0;
      for (int c = 0; c < 3; ++c) px |= ((sum[c] + n / 2) / n) << kChannelShift[c];
      out.pixels[size_t(oy) * size_t(out.width) + size_t(ox)] = px;
    }
  return out;
}

// A picture as an answer: the PNG stored without compression (compressing a
// 1920x1080 frame takes far longer than filtering it) or a JPEG, reduced to
// the box asked for, with the time the encoding took.
HttpResponse PictureResponse(const Picture& picture, PictureKind kind, int32_t maxWidth,
                             int32_t maxHeight) {
  auto start = std::chrono::steady_clock::now();
  Picture reduced = Reduced(picture, maxWidth, maxHeight);
  std::vector<uint8_t> bytes = kind == PictureKind::kJpeg ? EncodeJpeg(reduced)
                                                          : EncodePng(reduced, kPngStoredLevel);
  HttpResponse res{200, kind == PictureKind::kJpeg ? "image/jpeg" : "image/png",
                   std::string(bytes.begin(), bytes.end()), {}};
  SetTiming(res, "X-Encode-Ms", std::chrono::steady_clock::now() - start);
  return res;
}

// ---- The language and traces ------------------------------------------------

// A number as JSON, with the values JSON has no numbers for as text.
json NumberJson(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  return v;
}

// The language's reference and the example programs, as the page lists them.
json LanguageJson() {
  static const char* const kKinds[] = {"variable", "constant", "function", "operator"};
  json entries = json::array(), examples = json::array();
  for (const LanguageEntry& e : LanguageEntries()) {
    json entry = {{"kind", kKinds[int(e.kind)]}, {"name", e.name},   {"arity", e.arity},
                  {"about", e.about},            {"example", e.example}};
    if (e.kind == LanguageEntry::Kind::kConstant) entry["value"] = e.value;
    if (e.kind == LanguageEntry::Kind::kOperator) entry["binding"] = e.binding;
    entries.push_back(std::move(entry));
  }
  for (int i = 0; i < kExampleProgramCount; ++i) {
    const ExampleProgram& x = kExamplePrograms[i];
    examples.push_back(
        {{"name", x.name}, {"program", x.program}, {"clamp", x.clamp}, {"about", x.about}});
  }
  return {{"entries", entries}, {"examples", examples}};
}

// A pixel's trace as the API gives it; `text` is the filter's copy of the
// text that runs, which the statements' views point into. Positions are the
// page's.
json TraceJson(const PageText& page, std::string_view text, const PixelTrace& t) {
  json statements = json::array();
  for (size_t i = 0; i < t.statements.size(); ++i) {
    const TracedStatement& s = t.statements[i];
    const char* at = page.text.runs.data() + (s.text.data() - text.data());
    size_t start = page.Index(at);
    statements.push_back({{"number", i + 1},
                          {"text", std::string(s.text)},
                          {"start", start},
                          {"end", s.text.empty() ? start : page.End(at + s.text.size())},
                          {"name", std::string(s.name)},
                          {"expression", std::string(s.expression)},
                          {"assigns", s.assigns},
                          {"newVariable", s.newVariable},
                          {"value", NumberJson(s.value)}});
  }
  const float out[3] = {t.rd, t.gd, t.bd};
  json values = json::array(), codes = json::array(), bytes = json::array(),
       carries = json::array(), sourceBytes = json::array();
  const float in[3] = {t.rs, t.gs, t.bs};
  for (int c = 0; c < 3; ++c) {
    values.push_back(NumberJson(out[c]));
    codes.push_back(ChannelCode(out[c]));
    bytes.push_back((t.packed >> kChannelShift[c]) & 0xFFu);
    carries.push_back(t.carries[c]);
    sourceBytes.push_back(static_cast<int>(in[c] * 256.0f));
  }
  char packed[16];
  std::snprintf(packed, sizeof packed, "0x%08X", t.packed);
  return {{"frame", t.frame},
          {"source", {{"bytes", sourceBytes}, {"values", {in[0], in[1], in[2]}}}},
          {"statements", statements},
          {"output",
           {{"values", values}, {"codes", codes}, {"bytes", bytes}, {"packed", packed},
            {"carries", carries}}}};
}

// The page's icon: a small prism splitting a ray into red, green and blue.
const char kIcon[] =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 32 32'>"
    "<rect width='32' height='32' rx='6' fill='#1d1f23'/>"
    "<path d='M4 16h9' stroke='#dfe2e7' stroke-width='2'/>"
    "<path d='M13 6l8 20H5z' fill='none' stroke='#6cb6ff' stroke-width='2'/>"
    "<path d='M17 15l12-6' stroke='#ff6b6b' stroke-width='2'/>"
    "<path d='M17 16h12' stroke='#7ccf7c' stroke-width='2'/>"
    "<path d='M17 17l12 6' stroke='#6cb6ff' stroke-width='2'/></svg>";

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

  // The recent frames decoded and the last one's PNG, kept for the next
  // requests.
  std::mutex frameMutex;
  FrameCache frames;
  int64_t cachedIndex = -1;  // the frame of cachedPng
  std::shared_ptr<const std::vector<uint8_t>> cachedPng;

  // One route: a method, an exact path and its handler.
  struct Route {
    const char* method;
    const char* path;
    HttpResponse (Impl::*handler)(const HttpRequest&);
  };
  static const Route kRoutes[10];

  Impl(ServeOptions o, std::unique_ptr<FrameSource> s, HttpLimits limits)
      : options(std::move(o)),
        source(std::move(s)),
        http(
            limits, [this](const HttpRequest& req) { return Screen(req); },
            [this](const HttpRequest& req) { return Dispatch(req); }),
        frames(*source, kFrameCacheBytes) {}

  // The picture's index for frame number n: a video's own frame, a picture's
  // only one.
  int64_t FrameIndex(int64_t n) const { return source->video() ? n : 0; }

  FrameRange Frames() const { return FramesOf(source->video(), source->count()); }
  Bounds Limits() const { return {Frames(), source->width(), source->height()}; }

  // A request body's fields: those named, checked against this input.
  // The request's edit; its program's length is checked as it runs (ToRun).
  EditRequest Edit(const HttpRequest& req, std::initializer_list<std::string_view> fields) const {
    return ParseEdit(ParseBody(req.body, Limits()), fields, Limits());
  }

  // The frame at index, decoded once for all the requests that want it; the
  // recent ones are kept.
  std::shared_ptr<const Picture> SourceFrame(int64_t index) {
    std::lock_guard<std::mutex> lock(frameMutex);
    return frames.Get(index);
  }

  // The frame at index as a PNG, encoded once.
  std::shared_ptr<const std::vector<uint8_t>> SourcePng(int64_t index) {
    std::shared_ptr<const Picture> frame = SourceFrame(index);
    std::lock_guard<std::mutex> lock(frameMutex);
    if (!cachedPng || cachedIndex != index) {
      cachedPng = std::make_shared<const std::vector<uint8_t>>(EncodePng(*frame, kPngStoredLevel));
      cachedIndex = index;
    }
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
              {"rotation", source->rotation()},
              {"frameRate", source->frameRate()},
              {"program", options.program},
              {"clamp", options.clamp},
              {"exactText", options.exactText},
              {"lenient", options.lenient},
              {"frame", options.frame},
              {"file", options.programFile.empty() ? json(nullptr) : json(options.programFile)},
              {"maxProgramLength", kMaxTextLength}});
  }

  // GET /api/language: the language's names and operators, and the example
  // programs.
  HttpResponse Language(const HttpRequest&) { return JsonResponse(200, LanguageJson()); }

  // GET /favicon.ico and /favicon.svg: the page's icon.
  HttpResponse Icon(const HttpRequest&) { return {200, "image/svg+xml", kIcon, {}}; }

  // A whole number of a query parameter in range, or `fallback` without it.
  static int64_t QueryNumber(const HttpRequest& req, const char* name, FrameRange range,
                             int64_t fallback) {
    const std::string* text = req.Query(name);
    if (!text) return fallback;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || errno != 0 || v < range.min || v > range.max)
      throw HttpError{400, std::string(name) + " must be " + FrameRangeText(range)};
    return v;
  }

  // GET /api/source: the source frame, as the exact PNG or a JPEG preview
  // reduced to fit maxWidth x maxHeight.
  HttpResponse Source(const HttpRequest& req) {
    int64_t index = FrameIndex(QueryNumber(req, "frame", Frames(), 0));
    const std::string* format = req.Query("format");
    if (format && *format != "png" && *format != "jpeg")
      throw HttpError{400, "format must be png or jpeg"};
    int64_t maxWidth = QueryNumber(req, "maxWidth", {1, kMaxPreviewSide}, 0);
    int64_t maxHeight = QueryNumber(req, "maxHeight", {1, kMaxPreviewSide}, 0);
    if ((!format || *format == "png") && !maxWidth && !maxHeight) {
      std::shared_ptr<const std::vector<uint8_t>> png = SourcePng(index);
      return {200, "image/png", std::string(png->begin(), png->end()), {}};
    }
    PictureKind kind = format && *format == "jpeg" ? PictureKind::kJpeg : PictureKind::kPng;
    return PictureResponse(*SourceFrame(index), kind, int32_t(maxWidth), int32_t(maxHeight));
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
    EditRequest edit =
        Edit(req, {"program", "clamp", "frame", "format", "maxWidth", "maxHeight"});
    ProgramText text = ToRun(edit.program);
    if (!text.refusal.empty()) return RefusedText(edit.program, text);
    CheckProgramLength(text.runs);
    std::shared_ptr<const Picture> in = SourceFrame(FrameIndex(edit.frame));
    Picture out{in->width, in->height, std::vector<uint32_t>(in->pixels.size())};
    std::optional<ProgramReport> failed;
    std::vector<std::string> warnings;
    std::chrono::steady_clock::duration took{};
    std::string carries;
    bool ran = engine.Render([&] {
      Filter filter(text.runs, edit.clamp, {.countCarries = !edit.clamp, .mapper = &mapper});
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
      carries = CarryWarning(filter.tally());
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
    HttpResponse res = PictureResponse(out, edit.format, edit.maxWidth, edit.maxHeight);
    SetTiming(res, "X-Render-Ms", took);
    if (!carries.empty()) res.headers.emplace_back("X-Carry-Warning", carries);
    return res;
  }

  // POST /api/trace: one pixel of the frame followed through the program,
  // as the render computes it.
  HttpResponse Trace(const HttpRequest& req) {
    EditRequest edit = Edit(req, {"program", "clamp", "frame", "x", "y"});
    ProgramText text = ToRun(edit.program);
    if (!text.refusal.empty()) return RefusedText(edit.program, text);
    CheckProgramLength(text.runs);
    std::shared_ptr<const Picture> in = SourceFrame(FrameIndex(edit.frame));
    json body;
    std::optional<ProgramReport> failed;
    engine.Run([&] {
      Filter filter(text.runs, edit.clamp);
      if (!filter.runs()) {
        failed = CheckProgram(text.runs);
        return;
      }
      // The render's start: every render starts rand() afresh.
      PixelTrace trace = filter.Trace(in->View(), edit.x, edit.y, static_cast<int32_t>(edit.frame),
                                      options.randSeed, 0);
      body = TraceJson(PageText{edit.program, text}, SettingsText(filter.settings()), trace);
      body["randCalls"] = filter.randCalls();
    });
    if (failed) {
      json refused = ReportJson(PageText{edit.program, text}, *failed);
      refused["message"] = kProgramDoesNotRun;
      return JsonResponse(422, refused);
    }
    body["x"] = edit.x;
    body["y"] = edit.y;
    return JsonResponse(200, body);
  }

  // POST /api/check: check's report, the test message and the lines to copy.
  HttpResponse Check(const HttpRequest& req) {
    EditRequest edit = Edit(req, {"program", "clamp", "frame"});
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
    EditRequest edit = ParseEdit(ParseBody(req.body, Limits()), {"program"}, Limits());
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

const EditorServer::Impl::Route EditorServer::Impl::kRoutes[10] = {
    {"GET", "/", &Impl::Page},
    {"GET", "/favicon.ico", &Impl::Icon},
    {"GET", "/favicon.svg", &Impl::Icon},
    {"GET", "/api/info", &Impl::Info},
    {"GET", "/api/language", &Impl::Language},
    {"GET", "/api/source", &Impl::Source},
    {"POST", "/api/render", &Impl::Render},
    {"POST", "/api/trace", &Impl::Trace},
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
