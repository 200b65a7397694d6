// vexlor serve against hostile connections: raw bytes on a socket, as a web
// page (through a browser) or a local program can send them. A refused
// request's unread bytes never become a request, heads and slow clients are
// bounded, and the fields' ranges hold.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/serve/serve.h"
#include "cli_test_util.h"
#include "http_wire.h"

namespace vexlor::cli {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using test::ScratchDir;

// What a connection got: the server's bytes, read back, and whether the
// server closed it (else it went silent).
struct Talk {
  test::Wire wire;
  bool closed = false;
  std::vector<int> Statuses() const {
    std::vector<int> s;
    for (const auto& r : wire.responses) s.push_back(r.status);
    return s;
  }
};

int Connect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  return fd;
}

// Reads until the server closes the connection (true) or says nothing for
// `idle` (false).
bool ReadAll(int fd, std::string& into, milliseconds idle) {
  char buffer[65536];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(idle.count())) <= 0) return false;
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
    into.append(buffer, static_cast<size_t>(n));
  }
}

// Sends pieces on one connection with a pause between them (as a browser
// sends a large body apart from its head), then reads what comes back.
Talk Exchange(int port, const std::vector<std::string>& pieces, milliseconds pause = milliseconds(150),
              milliseconds idle = milliseconds(1500)) {
  int fd = Connect(port);
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) std::this_thread::sleep_for(pause);
    (void)::send(fd, pieces[i].data(), pieces[i].size(), MSG_NOSIGNAL);
  }
  std::string bytes;
  Talk talk;
  talk.closed = ReadAll(fd, bytes, idle);
  ::close(fd);
  talk.wire = test::ReadWire(bytes);
  EXPECT_TRUE(talk.wire.wellFormed) << bytes;
  return talk;
}

// A server editing a picture with -f effect.vx, with short time limits.
class HostileServeTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(dir.File("in.png")); }
  void TearDown() override { Stop(); }

  void Start(const std::string& input, HttpLimits limits = Limits()) {
    if (input == dir.File("in.png")) WritePicture(input, test::NoisePicture(9, 7, 3));
    test::WriteFile(file, "rd=1;\n");
    ServeOptions options;
    options.input = input;
    options.programFile = file;
    options.program = "rd=1;";
    server = std::make_unique<EditorServer>(options, OpenFrameSource(input), limits);
    port = server->Bind();
    serving = std::thread([this] { server->Serve(); });
    own = "127.0.0.1:" + std::to_string(port);
  }
  void Stop() {
    server->Stop();
    serving.join();
  }
  static HttpLimits Limits() {
    HttpLimits limits;
    limits.requestTime = milliseconds(1000);
    return limits;
  }

  // A request as bytes: its head lines, Host first unless given.
  std::string Request(const std::string& line, std::vector<std::string> headers,
                      const std::string& body = "", bool withLength = true) {
    std::string out = line + "\r\n";
    bool hasHost = false;
    for (const std::string& h : headers) hasHost = hasHost || h.starts_with("Host:");
    if (!hasHost) out += "Host: " + own + "\r\n";
    for (const std::string& h : headers) out += h + "\r\n";
    if (withLength && !line.starts_with("GET")) out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return out + "\r\n" + body;
  }

  std::string SaveRequest(const std::string& program) {
    return Request("POST /api/save HTTP/1.1", {"Content-Type: application/json"},
                   json{{"program", program}}.dump());
  }

  httplib::Result Post(const std::string& path, const std::string& body,
                       const std::string& type = "application/json") {
    httplib::Client client("127.0.0.1", port);
    return client.Post(path, body, type);
  }

  ScratchDir dir;
  std::string file = dir.File("effect.vx");
  std::unique_ptr<EditorServer> server;
  std::thread serving;
  int port = 0;
  std::string own;
};

// A refused request is answered before its body is read; the body, sent in a
// write of its own or in the same write past the first 4 KiB, once held a
// save that went through. The connection now closes after every refusal.
TEST_F(HostileServeTest, ASaveSmuggledInARefusedRequestsBodyIsNeverRead) {
  std::string inner = SaveRequest("rd=0;gd=0;bd=0;");
  std::string foreignHost = "Host: attacker.example:" + std::to_string(port);
  struct Variant {
    const char* what;
    std::string line;
    std::vector<std::string> headers;
    int status;
  };
  const Variant variants[] = {
      {"foreign Origin", "POST /api/check HTTP/1.1",
       {"Origin: http://attacker.example", "Content-Type: application/json"}, 403},
      {"rebinding Host", "POST /api/save HTTP/1.1", {foreignHost, "Content-Type: application/json"}, 403},
      {"text/plain", "POST /api/save HTTP/1.1", {"Content-Type: text/plain"}, 415},
      {"unknown path", "POST /api/other HTTP/1.1", {"Content-Type: text/plain"}, 404},
      {"wrong method", "PUT /api/save HTTP/1.1", {"Content-Type: text/plain"}, 405},
  };
  for (const Variant& v : variants) {
    std::string head = Request(v.line, v.headers, "", false);
    head.resize(head.size() - 2);  // the Content-Length goes in before the empty line
    // Split: the head, then the body in its own write.
    Talk split = Exchange(port, {head + "Content-Length: " + std::to_string(inner.size()) +
                                     "\r\n\r\n", inner});
    EXPECT_EQ(split.Statuses(), std::vector<int>{v.status}) << v.what;
    EXPECT_TRUE(split.closed) << v.what;
    // One write, the inner request starting past 4 KiB.
    std::string lengthLine = "Content-Length: 00000\r\n\r\n";
    std::string padding(4096 + 10 - head.size() - lengthLine.size(), ' ');
    std::string body = padding + inner;
    char length[8];
    std::snprintf(length, sizeof length, "%05zu", body.size());
    Talk one = Exchange(port, {head + "Content-Length: " + length + "\r\n\r\n" + body});
    EXPECT_EQ(one.Statuses(), std::vector<int>{v.status}) << v.what;
    EXPECT_TRUE(one.closed) << v.what;
    EXPECT_EQ(ReadProgramFile(file), "rd=1;") << v.what;
  }
  // A refused GET with a save pipelined after it: closed before the save.
  Talk pipelined = Exchange(port, {Request("GET /api/info HTTP/1.1", {foreignHost}) + inner});
  EXPECT_EQ(pipelined.Statuses(), std::vector<int>{403});
  EXPECT_EQ(ReadProgramFile(file), "rd=1;");
  // The same save sent on its own is taken.
  EXPECT_EQ(Exchange(port, {inner}, milliseconds(0), milliseconds(300)).Statuses(),
            std::vector<int>{200});
  EXPECT_EQ(ReadProgramFile(file), "rd=0;gd=0;bd=0;");
}

TEST_F(HostileServeTest, PipelinedRequestsAreAnsweredInOrder) {
  std::string check = json{{"program", "rd=rs;"}}.dump();
  Talk talk = Exchange(port, {Request("GET /api/info HTTP/1.1", {}) +
                              Request("POST /api/check HTTP/1.1",
                                      {"Content-Type: application/json"}, check) +
                              Request("GET /api/source?frame=2 HTTP/1.1", {})},
                       milliseconds(0), milliseconds(500));
  ASSERT_EQ(talk.Statuses(), (std::vector<int>{200, 200, 200}));
  EXPECT_EQ(json::parse(talk.wire.responses[0].body)["program"], "rd=1;");
  EXPECT_TRUE(json::parse(talk.wire.responses[1].body).contains("report"));
  EXPECT_EQ(talk.wire.responses[2].Header("content-type"), "image/png");
  EXPECT_FALSE(talk.closed);  // kept alive for more
}

// A flood of header lines once grew the server by 300 MB: heads are bounded
// in lines and in bytes, and the connection closes.
TEST_F(HostileServeTest, HeadsAreBoundedInLinesAndBytes) {
  std::vector<std::string> many(101, "X-Many: 1");
  Talk lines = Exchange(port, {Request("GET /api/info HTTP/1.1", many)});
  EXPECT_EQ(lines.Statuses(), std::vector<int>{431});
  EXPECT_NE(lines.wire.responses.at(0).body.find("more than 100 header lines"), std::string::npos);
  EXPECT_TRUE(lines.closed);
  std::vector<std::string> big(3, "X-Big: " + std::string(6000, 'b'));
  Talk bytes = Exchange(port, {Request("GET /api/info HTTP/1.1", big)});
  EXPECT_EQ(bytes.Statuses(), std::vector<int>{431});
  EXPECT_NE(bytes.wire.responses.at(0).body.find("\"error\""), std::string::npos);
  EXPECT_TRUE(bytes.closed);
  // Lines of 8000 bytes without end: refused once the head outgrows its
  // memory, long before all is sent.
  std::vector<std::string> flood = {"GET /api/info HTTP/1.1\r\nHost: " + own + "\r\n"};
  for (int i = 0; i < 250; ++i) flood.push_back("X-Flood: " + std::string(8000, 'f') + "\r\n");
  Talk flooded = Exchange(port, flood, milliseconds(1));
  EXPECT_TRUE(flooded.closed);
  for (int status : flooded.Statuses()) EXPECT_EQ(status, 431);
  // 100 lines within 16 KiB pass.
  std::vector<std::string> fine(99, "X-Fine: " + std::string(100, 'a'));
  EXPECT_EQ(Exchange(port, {Request("GET /api/info HTTP/1.1", fine)}, milliseconds(0),
                     milliseconds(300)).Statuses(),
            std::vector<int>{200});
}

// Clients that send a line now and then once held every worker for as long as
// they liked. Each request now has a time from the connection's start, and
// every connection has a thread: others are answered meanwhile.
TEST_F(HostileServeTest, SlowClientsAreCutOffWhileOthersAreServed) {
  constexpr int kSlow = 12;
  std::vector<double> cutAfter(kSlow, -1);
  std::vector<std::thread> slow;
  for (int i = 0; i < kSlow; ++i) {
    slow.emplace_back([&, i] {
      int fd = Connect(port);
      auto start = Clock::now();
      // Half dribble their head, half their body.
      std::string first = i % 2 ? "GET /api/info HTTP/1.1\r\nHost: " + own + "\r\n"
                                : Request("POST /api/check HTTP/1.1",
                                          {"Content-Type: application/json",
                                           "Content-Length: 100"}, "", false);
      (void)::send(fd, first.data(), first.size(), MSG_NOSIGNAL);
      while (Clock::now() - start < std::chrono::seconds(4)) {
        std::this_thread::sleep_for(milliseconds(150));
        const char* piece = i % 2 ? "X-Slow: 1\r\n" : " ";
        pollfd p{fd, POLLIN, 0};
        char c;
        if (::send(fd, piece, std::strlen(piece), MSG_NOSIGNAL) < 0 ||
            (::poll(&p, 1, 0) == 1 && ::recv(fd, &c, 1, 0) <= 0))
          break;
      }
      cutAfter[i] = std::chrono::duration<double>(Clock::now() - start).count();
      ::close(fd);
    });
  }
  std::this_thread::sleep_for(milliseconds(300));
  for (int i = 0; i < 3; ++i) {
    auto start = Clock::now();
    httplib::Client client("127.0.0.1", port);
    httplib::Result res = client.Get("/api/info");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_LT(Clock::now() - start, milliseconds(500));
  }
  for (std::thread& t : slow) t.join();
  for (int i = 0; i < kSlow; ++i) {
    EXPECT_GT(cutAfter[i], 0.8) << i;
    EXPECT_LT(cutAfter[i], 2.5) << i;
  }
}

// Numbers past what the fields hold: 400 naming the field, never a 500 or a
// frame that wrapped around.
TEST_F(HostileServeTest, NumbersOutOfTheirFieldsRangeAreRefusedByName) {
  struct Case {
    const char* body;
    const char* message;
  };
  const char* frames = "'frame' must be a whole number from -2147483648 to 2147483647";
  const Case cases[] = {
      {R"({"program":"rd=1;","frame":1e400})", frames},
      {R"({"program":"rd=1;","frame":-1e400})", frames},
      {R"({"program":"rd=1;","frame":18446744073709551615})", frames},
      {R"({"program":"rd=1;","frame":9223372036854775808})", frames},
      {R"({"program":"rd=1;","frame":2147483648})", frames},
      {R"({"program":"rd=1;","frame":99999999999999999999999})", frames},
      {R"({"program":1e400})", "'program' must be a string"},
      {R"({"program":"","clamp":[1e400]})", "'clamp' must be true or false"},
      {R"({"program":"","depth":1e400})", "unknown field 'depth'"},
      {R"([1e400])", "the request body must be a JSON object"},
  };
  for (const char* path : {"/api/render", "/api/check"}) {
    for (const Case& c : cases) {
      httplib::Result res = Post(path, c.body);
      ASSERT_TRUE(res);
      EXPECT_EQ(res->status, 400) << c.body;
      EXPECT_EQ(json::parse(res->body)["error"], c.message) << c.body;
    }
  }
  EXPECT_EQ(Post("/api/render", R"({"program":"rd=1;gd=1;bd=1;","frame":-2147483648})")->status,
            200);
}

// A one-frame video is a video: frame 0 only, on every endpoint.
TEST_F(HostileServeTest, AOneFrameVideoHasFrameZeroOnly) {
  Stop();
  std::string video = dir.File("one.y4m");
  std::string bytes = "YUV4MPEG2 W8 H6 F25:1 Ip A1:1 C444\nFRAME\n" + std::string(8 * 6 * 3, '\x50');
  test::WriteFile(video, bytes);
  Start(video);
  httplib::Client client("127.0.0.1", port);
  for (int frame : {1, 5, -1}) {
    std::string body = json{{"program", "rd=1;"}, {"frame", frame}}.dump();
    for (const char* path : {"/api/render", "/api/check"}) {
      httplib::Result res = Post(path, body);
      ASSERT_TRUE(res);
      EXPECT_EQ(res->status, 400) << path << " " << frame;
      EXPECT_EQ(json::parse(res->body)["error"], "'frame' must be a whole number from 0 to 0");
    }
    EXPECT_EQ(client.Get("/api/source?frame=" + std::to_string(frame))->status, 400) << frame;
  }
  std::string zero = json{{"program", "rd=1;gd=1;bd=1;"}, {"frame", 0}}.dump();
  EXPECT_EQ(Post("/api/render", zero)->status, 200);
  EXPECT_EQ(Post("/api/check", zero)->status, 200);
  EXPECT_EQ(client.Get("/api/source?frame=0")->status, 200);
}

TEST_F(HostileServeTest, ContentTypeIsComparedAsAMediaType) {
  std::string body = json{{"program", "rd=1;"}}.dump();
  const std::pair<const char*, int> cases[] = {
      {"application/json", 200}, {"APPLICATION/JSON", 200}, {"Application/Json; charset=utf-8", 200},
      {"application/json ;charset=UTF-8", 200}, {"application/jsonx", 415},
      {"application/json-seq", 415}, {"text/plain; application/json", 415},
      {"application/x-www-form-urlencoded", 415}, {"", 415},
  };
  for (const auto& [type, status] : cases) {
    Talk talk = Exchange(port, {Request("POST /api/check HTTP/1.1",
                                        {std::string("Content-Type: ") + type}, body)},
                         milliseconds(0), milliseconds(500));
    EXPECT_EQ(talk.Statuses(), std::vector<int>{status}) << type;
  }
  Talk two = Exchange(port, {Request("POST /api/check HTTP/1.1",
                                     {"Content-Type: text/plain", "Content-Type: application/json"},
                                     body)});
  EXPECT_EQ(two.Statuses(), std::vector<int>{415});
}

// Framing that two readers could take apart differently is refused, and the
// connection closed.
TEST_F(HostileServeTest, AmbiguousFramingIsRefused) {
  std::string check = "POST /api/check HTTP/1.1\r\nHost: " + own +
                      "\r\nContent-Type: application/json\r\n";
  std::string body = json{{"program", "rd=1;"}}.dump();
  std::string length = std::to_string(body.size());
  const std::pair<const char*, std::string> cases[] = {
      {"two lengths", "Content-Length: " + length + "\r\nContent-Length: 3\r\n"},
      {"the same length twice", "Content-Length: " + length + "\r\nContent-Length: " + length + "\r\n"},
      {"length and chunks", "Content-Length: " + length + "\r\nTransfer-Encoding: chunked\r\n"},
      {"two hosts", "Host: attacker.example\r\nContent-Length: " + length + "\r\n"},
  };
  for (const auto& [what, headers] : cases) {
    Talk talk = Exchange(port, {check + headers + "\r\n" + body + SaveRequest("rd=2;")});
    EXPECT_EQ(talk.Statuses(), std::vector<int>{400}) << what;
    EXPECT_TRUE(talk.closed) << what;
    EXPECT_NE(talk.wire.responses.at(0).body.find("\"error\""), std::string::npos) << what;
  }
  EXPECT_EQ(ReadProgramFile(file), "rd=1;");
}

// Save through a symbolic link writes the file it leads to and keeps the
// link; a link that leads nowhere is refused, saying so.
TEST_F(HostileServeTest, SaveWritesThroughASymbolicLink) {
  Stop();
  ASSERT_EQ(::mkdir(dir.File("real").c_str(), 0755), 0);
  test::WriteFile(dir.File("real/effect.vx"), "rd=1;\n");
  ASSERT_EQ(::unlink(file.c_str()), 0);
  ASSERT_EQ(::symlink("real/effect.vx", file.c_str()), 0);
  Start(dir.File("in.png"));  // writes "rd=1;" through the link
  std::string body = json{{"program", "rd=gs;"}}.dump();
  ASSERT_EQ(Post("/api/save", body)->status, 200);
  struct stat st;
  ASSERT_EQ(::lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(test::ReadFile(dir.File("real/effect.vx")), "rd=gs;\n");
  EXPECT_EQ(test::ReadFile(file), "rd=gs;\n");

  ASSERT_EQ(::rename(dir.File("real/effect.vx").c_str(), dir.File("real/moved.vx").c_str()), 0);
  httplib::Result nowhere = Post("/api/save", body);
  ASSERT_TRUE(nowhere);
  EXPECT_EQ(nowhere->status, 500);
  EXPECT_NE(json::parse(nowhere->body)["error"].get<std::string>().find(
                "is a symbolic link that leads to no file"),
            std::string::npos)
      << nowhere->body;
  ASSERT_EQ(::lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"effect.vx", "in.png", "real"}));
}

// A stop waits for the answer being made and sends it; only then are the
// connections closed.
TEST_F(HostileServeTest, AStopLetsTheAnswerBeingMadeFinish) {
  Stop();
  WritePicture(dir.File("big.png"), test::NoisePicture(1200, 1000, 5));
  Start(dir.File("big.png"));
  std::string program = "x=sin(rs*9)*cos(gs*7)+rs^3;y=x*x+sin(x);rd=y;gd=sin(y*x);bd=cos(x+y);";
  std::thread render([&] {
    httplib::Result res = Post("/api/render", json{{"program", program}}.dump());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "image/png");
  });
  std::this_thread::sleep_for(milliseconds(100));
  Stop();
  render.join();
  Start(dir.File("in.png"));  // for TearDown
}

}  // namespace
}  // namespace vexlor::cli
