// The editor's server on the raw bytes of one connection, several requests in
// a row: the bytes go in through one end of a socket pair whose other end the
// server serves (no listening socket), and what comes back must be a run of
// well-formed responses in which a refusal or error is the last, JSON errors
// have their reason, and -f FILE changes only with a save that says so.
// Requests name the server as "Host: 127.0.0.1:0" (it is bound to no port).
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "cli/base/files.h"
#include "cli/media/frames.h"
#include "cli/media/picture.h"
#include "cli/serve/serve.h"
#include "fuzz.h"
#include "tests/cli/http_wire.h"

using namespace vexlor::cli;
using vexlor::fuzz::Expect;

namespace {

constexpr const char* kSaved = "rd=1;\n";

std::string ReadAllOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAllOf(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The server, on a small picture and a program file in a directory of its own.
struct Fixture {
  std::string dir, file;
  std::unique_ptr<EditorServer> server;

  Fixture() {
    char name[] = "/tmp/vexlor-fuzz-serve-XXXXXX";
    Expect(::mkdtemp(name) != nullptr, "cannot make a scratch directory");
    dir = name;
    file = dir + "/effect.vx";
    Picture picture{4, 3, std::vector<uint32_t>(12)};
    for (size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = 0x102030u * (i + 1);
    WritePicture(dir + "/in.png", picture);
    WriteAllOf(file, kSaved);
    ServeOptions options;
    options.input = dir + "/in.png";
    options.programFile = file;
    options.program = "rd=1;";
    server = std::make_unique<EditorServer>(options, OpenFrameSource(options.input));
    Expect(server->Start(), "the server does not start");
  }
  ~Fixture() {
    server.reset();
    for (const char* name : {"/in.png", "/effect.vx"}) ::unlink((dir + name).c_str());
    ::rmdir(dir.c_str());
  }
};

// Sends bytes on a fresh connection, says no more, and reads every byte the
// server writes until it closes.
std::string Converse(EditorServer& server, std::string_view bytes) {
  int ends[2];
  Expect(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0, "no socket pair");
  server.AddConnection(ends[0]);
  for (size_t at = 0; at < bytes.size();) {
    ssize_t n = ::send(ends[1], bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) break;  // the server closed after a refusal
    at += static_cast<size_t>(n);
  }
  ::shutdown(ends[1], SHUT_WR);
  std::string out;
  char buffer[65536];
  for (ssize_t n; (n = ::recv(ends[1], buffer, sizeof buffer, 0)) > 0;)
    out.append(buffer, static_cast<size_t>(n));
  ::close(ends[1]);
  return out;
}

size_t Count(std::string_view text, std::string_view what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// libmicrohttpd 0.9.75 sends the head of some of its own error answers (to a
// malformed Content-Length, for one) twice before the body, then closes. The
// library's fault, and harmless to the server: the first copy is dropped so
// that the rest is still checked.
void DropRepeatedHeads(std::string& out) {
  for (size_t at = out.find("HTTP/1.1 "); at != std::string::npos;
       at = out.find("HTTP/1.1 ", at + 1)) {
    size_t end = out.find("\r\n\r\n", at);
    if (end == std::string::npos) return;
    std::string_view head(out.data() + at, end + 4 - at);
    if (std::string_view(out).substr(end + 4).starts_with(head)) out.erase(at, head.size());
  }
}

// The invariants of one connection's answers.
void CheckAnswers(std::string_view input, std::string out, bool fileChanged) {
  DropRepeatedHeads(out);
  vexlor::test::Wire wire = vexlor::test::ReadWire(out);
  Expect(wire.wellFormed, "the server wrote something that is not a run of HTTP responses");
  bool saved = false;
  size_t answered = 0;
  for (size_t i = 0; i < wire.responses.size(); ++i) {
    const vexlor::test::WireResponse& r = wire.responses[i];
    Expect(r.status >= 100 && r.status <= 599, "a status out of HTTP's range");
    if (r.status >= 400) {
      Expect(i + 1 == wire.responses.size(), "a request was answered after a refusal");
      // (An answer to HEAD has no body to look at.)
      if (r.Header("content-type") == "application/json" && !r.body.empty()) {
        // A render's 422 carries the diagnostics and a message; the rest an error.
        auto body = nlohmann::json::parse(r.body, nullptr, false);
        const char* reason = r.status == 422 ? "message" : "error";
        Expect(body.is_object() && body[reason].is_string() && !body[reason].empty(),
               "a JSON refusal without its reason");
      }
    }
    if (r.status >= 200 && r.status < 300) ++answered;
    saved = saved || (r.status == 200 && r.body.find("\"saved\":true") != std::string::npos);
  }
  Expect(answered <= Count(input, " HTTP/1."), "more answers than requests");
  Expect(!fileChanged || saved, "the program file changed without a save that said so");
  Expect(!saved || Count(input, "/api/save") > 0, "a save answered to no save request");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string out = Converse(*fixture.server, input);
  std::string now = ReadAllOf(fixture.file);
  CheckAnswers(input, out, now != kSaved);
  if (now != kSaved) WriteAllOf(fixture.file, kSaved);
  return 0;
}
