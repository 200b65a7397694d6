// vexlor serve's API, through a real server on a free loopback port: renders
// are apply's pixels, checks are check's report, and every bad request gets a
// 4xx with a JSON reason while the server goes on serving.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/base/text.h"
#include "cli/serve/serve.h"
#include "cli_test_util.h"

namespace vexlor::cli {
namespace {

using nlohmann::json;
using test::RunShell;
using test::RunVexlor;
using test::ScratchDir;

constexpr int32_t kWidth = 61, kHeight = 37;

// A server on a noise picture (written to in.png for apply), in a thread.
class ServeTest : public ::testing::Test {
 protected:
  // exact: texts run byte for byte and rendered with their warnings, as
  // --exact-text --lenient have it.
  void Start(const std::string& programFile = "", bool exact = false) {
    WritePicture(dir.File("in.png"), test::NoisePicture(kWidth, kHeight, 7));
    ServeOptions options;
    options.exactText = options.lenient = exact;
    options.input = dir.File("in.png");
    options.programFile = programFile;
    options.program = "rd=rs;gd=gs;bd=bs;";
    server = std::make_unique<EditorServer>(options, OpenFrameSource(options.input));
    port = server->Bind();
    serving = std::thread([this] { server->Serve(); });
    client = std::make_unique<httplib::Client>("127.0.0.1", port);
  }
  void SetUp() override { Start(); }
  void TearDown() override {
    server->Stop();
    serving.join();
  }

  void Restart(const std::string& programFile, bool exact = false) {
    TearDown();
    Start(programFile, exact);
  }

  httplib::Result Post(const std::string& path, const json& body) {
    return client->Post(path, body.dump(), "application/json");
  }

  // apply's output for a program, top line first.
  Picture Apply(const std::string& program, bool clamp, int32_t frame) {
    std::vector<std::string> args = {"apply", "--quiet"};
    if (!clamp) args.push_back("--carry");
    args.insert(args.end(), {"--frame", std::to_string(frame), program, dir.File("in.png"),
                             dir.File("out.png")});
    test::RunResult r = RunVexlor(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return ReadPicture(dir.File("out.png"));
  }

  ScratchDir dir;
  std::unique_ptr<EditorServer> server;
  std::thread serving;
  std::unique_ptr<httplib::Client> client;
  int port = 0;
};

Picture DecodeBody(const httplib::Result& res) {
  const std::string& body = res->body;
  return DecodePng(std::span(reinterpret_cast<const uint8_t*>(body.data()), body.size()), "reply");
}

TEST_F(ServeTest, RenderGivesApplysPixelsWithAndWithoutClampAtEveryFrame) {
  const char* programs[] = {
      "rd=gs;gd=rs;bd=bs*2;",
      "rd=rs*3-1;gd=gs*gs*300;bd=bs+fr/7;",
      "x=rand();rd=x;gd=rand();bd=rs*x;",  // rand() starts afresh in every render
      "rd=if(rs>0.5,fr%3,0-2);gd=sin(gs*pi*fr);bd=rs|fr;",
  };
  for (const char* program : programs) {
    for (bool clamp : {false, true}) {
      for (int32_t frame : {0, 7, -3, 100}) {
        httplib::Result res = Post("/api/render", {{"program", program}, {"clamp", clamp},
                                                   {"frame", frame}});
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200) << res->body;
        EXPECT_EQ(res->get_header_value("Content-Type"), "image/png");
        Picture got = DecodeBody(res), want = Apply(program, clamp, frame);
        ASSERT_EQ(got.width, kWidth);
        ASSERT_EQ(got.height, kHeight);
        EXPECT_EQ(got.pixels, want.pixels) << program << " clamp " << clamp << " frame " << frame;
      }
    }
  }
}

TEST_F(ServeTest, SourceIsTheInputAndRenderRefusesAProgramThatDoesNotRun) {
  httplib::Result src = client->Get("/api/source?frame=5");
  ASSERT_TRUE(src);
  ASSERT_EQ(src->status, 200);
  EXPECT_EQ(DecodeBody(src).pixels, ReadPicture(dir.File("in.png")).pixels);

  httplib::Result res = Post("/api/render", {{"program", "rd=rs;gd=(gs;bd=bs;"}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 422);
  json body = json::parse(res->body);
  EXPECT_FALSE(body["runs"]);
  EXPECT_EQ(body["error"]["statement"], 2);
  EXPECT_EQ(body["error"]["index"], 6 + body["error"]["column"].get<int>() - 1);
  EXPECT_TRUE(body.contains("message"));
}

TEST_F(ServeTest, CheckAgreesWithTheCommandsAndMarksWhereTheProblemIs) {
  const char* programs[] = {
      "rd=rs *2;gd=gs;bd=bs;", "rd=rs;gd=foo;bd=bs;", "rd=2^3^2;", "",
      "x=1;rd=x;gd=x; bd=x;tail", "rd=\"q\\\\;gd=gs;", "r\xc3\xa9=1;rd=(1;",
  };
  // Free-form and byte for byte, the server and the commands read alike.
  for (bool exact : {false, true}) {
    Restart("", exact);
    std::vector<std::string> how;
    if (exact) how.push_back("--exact-text");
    auto command = [&](const char* name, const char* program) {
      std::vector<std::string> args = {name};
      args.insert(args.end(), how.begin(), how.end());
      args.push_back(program);
      return RunVexlor(args);
    };
    for (const char* program : programs) {
      for (bool clamp : {false, true}) {
        httplib::Result res = Post("/api/check", {{"program", program}, {"clamp", clamp}});
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200) << res->body;
        json body = json::parse(res->body);
        test::RunResult check = command("check", program);
        EXPECT_EQ(body["report"], check.out) << program;
        EXPECT_EQ(body["runs"], check.status == 0) << program;
        EXPECT_EQ(body["testMessage"].get<std::string>() + "\n", command("test", program).out);
        std::string runsAs = body["runsAs"];
        if (exact) {
          EXPECT_EQ(runsAs, program);
        }
        EXPECT_EQ(body["scriptLine"], ScriptLine(Filter(runsAs, clamp).settings()));
      }
    }
  }
  json cut = json::parse(Post("/api/check", {{"program", "rd=rs *2;gd=gs;bd=bs;"}})->body);
  ASSERT_EQ(cut["noEffect"].size(), 1u);
  EXPECT_EQ(cut["noEffect"][0]["start"], 5);
  EXPECT_EQ(cut["noEffect"][0]["end"], 8);
  // Positions count UTF-16 units, as the page's editor does: "é" is one.
  json fail = json::parse(Post("/api/check", {{"program", "r\xc3\xa9=1;rd=(1;"}})->body);
  EXPECT_EQ(fail["error"]["statement"], 2);
  EXPECT_EQ(fail["statements"][1]["start"], 5);
}

// The lines of text that start with prefix, without it.
std::vector<std::string> LinesAfter(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (line.starts_with(prefix)) lines.push_back(line.substr(prefix.size()));
    at = end + 1;
  }
  return lines;
}

TEST_F(ServeTest, WarningsAreApplysAndHintsAreChecks) {
  // Values stay within 0..1, so apply warns about the program only; the
  // plug-in's reading has the most to warn about.
  Restart("", true);
  const char* running[] = {
      "rd=rs;gd=gs;bd=bs;", "rd=rs;\ngd=gs;\nbd=bs;", "rd=rs *2;gd=gs;bd=bs;",
      "rd=rs,gd=gs,bd=bs", "", "Rd=rs;gd=gs;", "rd=rs;gd=gs;bd=bs;x =1;y=2 3;tail",
  };
  for (const char* program : running) {
    json body = json::parse(Post("/api/check", {{"program", program}})->body);
    test::RunResult apply = RunVexlor({"apply", "--quiet", "--exact-text", "--lenient", program,
                                       dir.File("in.png"), dir.File("out.png")});
    ASSERT_EQ(apply.status, 0) << program << apply.err;
    EXPECT_EQ(body["warnings"], LinesAfter(apply.err, "vexlor: warning: ")) << program;
    EXPECT_EQ(body["hints"], LinesAfter(RunVexlor({"check", "--exact-text", program}).out, "hint: "))
        << program;
  }
  EXPECT_EQ(json::parse(Post("/api/check", {{"program", "rd=rs;gd=gs;bd=bs;"}})->body)["warnings"],
            json::array());
  // Hints under a failing statement's message, as check prints them.
  const char* failing[] = {"rd=rs*-1;gd=gs;bd=bs;", "rd=sine(rs);", "rd=rs**2;", "rd=if(rs,1);",
                           "rd=rs;gd=2^3^2;"};
  for (const char* program : failing) {
    json body = json::parse(Post("/api/check", {{"program", program}})->body);
    std::vector<std::string> want = LinesAfter(RunVexlor({"check", program}).out, "  hint: ");
    EXPECT_FALSE(want.empty()) << program;
    EXPECT_EQ(body["error"]["hints"], want) << program;
    EXPECT_EQ(body["statements"][body["error"]["statement"].get<int>() - 1]["hints"], want);
  }
}

TEST_F(ServeTest, NoEffectRangesAreTheReportsNotes) {
  // Free-form: the ranges stand in the page's text, comments and blanks
  // counted, though the report speaks of the text that runs.
  json body = json::parse(
      Post("/api/check", {{"program", "# c\nrd = rs;\n  pi = 1;\ngd=gs;bd=bs"}})->body);
  EXPECT_EQ(body["runsAs"], "rd=rs;pi=1;gd=gs;bd=bs;");
  ASSERT_EQ(body["noEffect"].size(), 1u) << body.dump();
  EXPECT_EQ(body["noEffect"][0]["start"], 15);
  EXPECT_EQ(body["noEffect"][0]["end"], 17);
  EXPECT_EQ(body["statements"][1]["start"], 15);
  EXPECT_EQ(body["statements"][1]["end"], 21);
  EXPECT_EQ(body["doesWhatItSays"], false);
  // Render refuses what cannot do what it says, and text that joins tokens.
  httplib::Result res = Post("/api/render", {{"program", "rd=rs;\ngd=gs;"}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 422);
  json refused = json::parse(res->body);
  EXPECT_EQ(refused["runs"], true);
  EXPECT_EQ(refused["doesWhatItSays"], false);
  EXPECT_EQ(refused["warnings"].size(), 1u) << res->body;
  EXPECT_TRUE(refused["message"].get<std::string>().starts_with(
      "the program cannot do what it says: bd never assigned"))
      << res->body;
  res = Post("/api/render", {{"program", "rd=1\n2;gd=gs;bd=bs;"}});
  EXPECT_EQ(res->status, 422);
  refused = json::parse(res->body);
  EXPECT_EQ(refused["refusedAt"], 4) << res->body;
  EXPECT_EQ(refused["runs"], false);
  Restart("", true);
  struct Case {
    const char* program;
    std::vector<std::pair<int, int>> ranges;  // in UTF-16 units
    const char* why;                          // in the first range's note
  };
  const Case cases[] = {
      {"rd=rs *2;gd=gs;bd=bs;", {{5, 8}}, "an expression ends at its first space"},
      {"rd=rs;\ngd=gs;\nbd=bs;", {{6, 9}, {13, 16}}, "a line break before the name"},
      {"rd=rs;gd x=gs;bd=bs;", {{8, 10}}, "a name ends at its first space"},
      {"rd=rs;gd=gs;bd=bs;tail", {{18, 22}}, "text after the last ';'"},
      // "\xc3\xa9" is one unit, "\xf0\x9d\x84\x9e" two.
      {"rd=rs \xc3\xa9;gd=gs \xf0\x9d\x84\x9e;bd=bs;", {{5, 7}, {13, 16}}, "expression ends"},
      {"rd=rs;gd=gs;", {}, ""},  // bd unassigned: a note about no one part
  };
  for (const Case& c : cases) {
    json body = json::parse(Post("/api/check", {{"program", c.program}})->body);
    const json& ranges = body["noEffect"];
    ASSERT_EQ(ranges.size(), c.ranges.size()) << c.program << body.dump();
    for (size_t i = 0; i < ranges.size(); ++i) {
      EXPECT_EQ(ranges[i]["start"], c.ranges[i].first) << c.program;
      EXPECT_EQ(ranges[i]["end"], c.ranges[i].second) << c.program;
    }
    if (!ranges.empty()) {
      EXPECT_NE(ranges[0]["why"].get<std::string>().find(c.why), std::string::npos) << c.program;
    }
  }
}

TEST_F(ServeTest, TheApplyCommandLineMakesTheRenderedPicture) {
  const char* programs[] = {"rd=gs;gd=rs;bd=bs;", "# it's $HOME `x`\nrd = gs;\ngd = rs;\nbd = bs",
                            "rd=rs;gd=gs;bd=bs;it's $HOME `x`"};
  for (const char* program : programs) {
    // The last program runs only byte for byte, with its warning.
    if (program == programs[2]) Restart("", true);
    json body = {{"program", program}, {"clamp", true}, {"frame", 3}};
    std::string line = json::parse(Post("/api/check", body)->body)["applyCommand"];
    ASSERT_TRUE(line.starts_with(program == programs[2]
                                     ? "vexlor apply --exact-text --lenient --frame 3 "
                                     : "vexlor apply --frame 3 "))
        << line;
    test::RunResult run = RunShell("cd " + test::ShellQuote(dir.path) + " && \"$VEXLOR\"" +
                                   line.substr(6));
    ASSERT_EQ(run.status, 0) << line << run.err;
    EXPECT_EQ(ReadPicture(dir.File("in-filtered.png")).pixels,
              DecodeBody(Post("/api/render", body)).pixels)
        << line;
  }
}

TEST_F(ServeTest, BadRequestsGetAReasonAndTheServerGoesOn) {
  struct Case {
    const char* method;
    const char* path;
    std::string body;
    const char* contentType;
    httplib::Headers headers;
    int status;
  };
  std::string own = "127.0.0.1:" + std::to_string(port);
  std::string huge = json{{"program", std::string(70000, 'a')}}.dump();
  std::string program = [](size_t n) { return json{{"program", std::string(n, 'a')}}.dump(); }(2048);
  const Case cases[] = {
      {"POST", "/api/render", "{\"program\":", "application/json", {}, 400},
      {"POST", "/api/render", "[\"rd=1;\"]", "application/json", {}, 400},
      {"POST", "/api/render", "{\"program\":1}", "application/json", {}, 400},
      {"POST", "/api/render", "{\"program\":\"\",\"clamp\":1}", "application/json", {}, 400},
      {"POST", "/api/render", "{\"program\":\"\",\"frame\":\"2\"}", "application/json", {}, 400},
      {"POST", "/api/render", "{\"program\":\"\",\"frame\":1e99}", "application/json", {}, 400},
      {"POST", "/api/check", "{\"program\":\"\",\"colour\":1}", "application/json", {}, 400},
      {"POST", "/api/check", "{\"program\":\"a\\u0000b\"}", "application/json", {}, 400},
      {"POST", "/api/check", "{\"program\":\"\"}", "text/plain", {}, 415},
      {"POST", "/api/check", huge, "application/json", {}, 413},
      {"POST", "/api/render", program, "application/json", {}, 413},
      {"POST", "/api/save", "{\"program\":\"rd=1;\"}", "application/json", {}, 409},
      {"GET", "/api/info", "", "", {{"Host", "attacker.example:" + std::to_string(port)}}, 403},
      {"GET", "/api/info", "", "", {{"Host", "127.0.0.1:1"}}, 403},
      {"POST", "/api/check", "{\"program\":\"\"}", "application/json",
       {{"Origin", "http://attacker.example"}}, 403},
      {"GET", "/api/source?frame=x", "", "", {}, 400},
      {"GET", "/etc/passwd", "", "", {}, 404},
      {"GET", "/../in.png", "", "", {}, 404},
      {"GET", "/api/stop", "", "", {}, 404},
      {"DELETE", "/api/render", "", "", {}, 405},
      {"GET", "/api/render", "", "", {}, 405},
      {"PUT", "/", "x", "text/plain", {}, 405},
  };
  for (const Case& c : cases) {
    std::string m = c.method;
    httplib::Result res = m == "GET"    ? client->Get(c.path, c.headers)
                          : m == "POST" ? client->Post(c.path, c.headers, c.body, c.contentType)
                          : m == "PUT"  ? client->Put(c.path, c.headers, c.body, c.contentType)
                                        : client->Delete(c.path, c.headers);
    ASSERT_TRUE(res) << c.method << " " << c.path;
    EXPECT_EQ(res->status, c.status) << c.method << " " << c.path << ": " << res->body;
    json body = json::parse(res->body, nullptr, false);
    EXPECT_TRUE(body.is_object() && body["error"].is_string() && !body["error"].empty())
        << c.method << " " << c.path << ": " << res->body;
    httplib::Result info = client->Get("/api/info");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->status, 200);
  }
  // The server's own names pass.
  for (std::string host : {own, "localhost:" + std::to_string(port)}) {
    httplib::Result res = client->Get("/", {{"Host", host}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << host;
    EXPECT_NE(res->body.find("<textarea"), std::string::npos);
  }
}

TEST_F(ServeTest, ASecondServerCannotTakeTheSamePort) {
  ServeOptions options;
  options.input = dir.File("in.png");
  options.port = port;
  EditorServer second(options, OpenFrameSource(options.input));
  EXPECT_THROW(second.Bind(), Failure);
}

TEST_F(ServeTest, SaveWritesTheProgramBackWhole) {
  std::string file = dir.File("effect.vx");
  test::WriteFile(file, "rd=1;\n");
  Restart(file);
  httplib::Result res = Post("/api/save", {{"program", "rd=gs;\ngd=rs;bd=bs;"}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200) << res->body;
  EXPECT_EQ(ReadProgramFile(file), "rd=gs;\ngd=rs;bd=bs;");
  EXPECT_EQ(json::parse(client->Get("/api/info")->body)["program"], "rd=gs;\ngd=rs;bd=bs;");
  // A refused save leaves the file as it was.
  EXPECT_EQ(Post("/api/save", {{"program", std::string(3000, 'a')}})->status, 413);
  EXPECT_EQ(ReadProgramFile(file), "rd=gs;\ngd=rs;bd=bs;");
  std::vector<std::string> names = dir.Names();
  EXPECT_EQ(names, (std::vector<std::string>{"effect.vx", "in.png"}));
}

TEST_F(ServeTest, SaveWritesNoOtherFile) {
  std::string file = dir.File("effect.vx");
  test::WriteFile(file, "rd=1;\n");
  Restart(file);
  for (const char* field : {"file", "path", "programFile"}) {
    httplib::Result res =
        Post("/api/save", {{"program", "rd=2;"}, {field, dir.File("other.vx")}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400) << res->body;
  }
  EXPECT_EQ(client->Post("/api/save?file=other.vx", json{{"program", "rd=3;"}}.dump(),
                         "application/json")->status, 200);
  EXPECT_EQ(ReadProgramFile(file), "rd=3;");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"effect.vx", "in.png"}));
}

TEST(Utf8Test, ErrorOffsetAgreesWithTheJsonLibrary) {
  struct Case {
    std::string text;
    size_t error;
  };
  const size_t none = std::string::npos;
  const Case cases[] = {
      {"", none}, {"rd=rs;", none}, {"r\xc3\xa9", none}, {"\xe2\x82\xac", none},
      {"\xf0\x9d\x84\x9e", none}, {"\xf4\x8f\xbf\xbf", none}, {"\xed\x9f\xbf", none},
      {"caf\xe9", 3}, {"\xff", 0}, {"a\x80", 1}, {"\xc0\xaf", 0}, {"\xc1\xbf", 0},
      {"\xe0\x80\xaf", 0}, {"\xed\xa0\x80", 0}, {"\xf0\x8f\xbf\xbf", 0},
      {"\xf4\x90\x80\x80", 0}, {"\xf5\x80\x80\x80", 0}, {"ab\xc3", 2}, {"\xe2\x82", 0},
      {"\xc3(", 0}, {"\xe2\x82(", 0}, {"\xf0\x9d\x84", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ErrorOffset(c.text), c.error) << json(c.text).dump(-1, ' ', true,
                                                                       json::error_handler_t::replace);
    bool strict = true;
    try {
      (void)json(c.text).dump();
    } catch (const json::type_error&) {
      strict = false;
    }
    EXPECT_EQ(strict, c.error == none) << c.error;
  }
}

// Every render starts the generator at the engine's own first state, which a
// thread that has run nothing has.
TEST(RandStartTest, TheFirstStateIsTheEnginesOwn) {
  uint32_t fresh = 0;
  std::thread([&] { fresh = RandState(); }).join();
  EXPECT_EQ(fresh, kRandFirstState);
  EXPECT_FALSE(ServeOptions{}.randSeed.has_value());
}

TEST(EngineQueueTest, AWaitingRenderGivesWayToANewerOne) {
  EngineQueue queue;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::thread busy([&] { queue.Run([&] { released.wait(); }); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::vector<int> ran;
  auto older = std::async(std::launch::async, [&] { return queue.Render([&] { ran.push_back(1); }); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto newer = std::async(std::launch::async, [&] { return queue.Render([&] { ran.push_back(2); }); });
  // The older one gives up as soon as the newer one comes, while the engine
  // is still busy.
  ASSERT_EQ(older.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(older.get());
  release.set_value();
  EXPECT_TRUE(newer.get());
  busy.join();
  EXPECT_EQ(ran, std::vector<int>{2});
  // With nothing waiting, a render runs.
  EXPECT_TRUE(queue.Render([&] { ran.push_back(3); }));
}

// Starts vexlor serve --clamp on input in dir, sends it signal once it has
// printed its address, and gives "status N" and what it printed.
test::RunResult ServeUntilSignal(const ScratchDir& dir, const std::string& input,
                                 const std::string& signal) {
  return RunShell(
      // SIGINT at its default: a shell's background job ignores it, and the
      // server then keeps ignoring it.
      "cd " + test::ShellQuote(dir.path) +
      "\nrm -f out.txt\nenv --default-signal=INT,QUIT \"$VEXLOR\" serve --clamp " +
      input + " >out.txt 2>err.txt & pid=$!\n"
      "for i in $(seq 100); do [ -s out.txt ] && break; sleep 0.05; done\n"
      "kill -" + signal + " $pid; wait $pid; echo \"status $?\"; cat out.txt err.txt");
}

TEST(ServeCommandTest, PrintsItsAddressAndStopsCleanlyOnASignal) {
  ScratchDir dir;
  WritePicture(dir.File("in.png"), test::NoisePicture(8, 8, 1));
  for (const char* signal : {"INT", "TERM"}) {
    test::RunResult r = ServeUntilSignal(dir, "in.png", signal);
    EXPECT_TRUE(r.out.starts_with("status 0\n")) << r.out;
    std::string line = r.out.substr(r.out.find('\n') + 1);
    EXPECT_TRUE(line.starts_with("vexlor: editing in.png on http://127.0.0.1:")) << line;
    EXPECT_TRUE(line.ends_with("/ (Ctrl-C stops)\n")) << line;
  }
  test::RunResult bad = RunVexlor({"serve", "--port", "70000", dir.File("in.png")});
  EXPECT_EQ(bad.status, kExitUsage);
  test::RunResult missing = RunVexlor({"serve", dir.File("none.png")});
  EXPECT_EQ(missing.status, kExitData);
  EXPECT_NE(missing.err.find("none.png"), std::string::npos);
}

// A video's decoder runs threads of its own. They are started with the stop
// signals blocked, like the server's, so that the signal reaches the thread
// that stops the server between requests rather than the other commands'
// handler, which exits at once with 130 or 143.
TEST(ServeCommandTest, AVideoStopsCleanlyOnASignalToo) {
  ScratchDir dir;
  test::RunResult made = RunShell("cd " + test::ShellQuote(dir.path) +
                                  " && ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=25 "
                                  "-frames:v 30 -c:v mpeg4 clip.avi");
  ASSERT_EQ(made.status, 0) << made.err;
  for (const char* signal : {"INT", "TERM", "INT", "TERM"}) {
    test::RunResult r = ServeUntilSignal(dir, "clip.avi", signal);
    EXPECT_TRUE(r.out.starts_with("status 0\n")) << signal << ": " << r.out;
    EXPECT_EQ(r.out.find("interrupted"), std::string::npos) << r.out;
  }
  // Every thread of the serving process, the decoder's included, has both
  // signals blocked (SigBlk bits 1 and 14) but the one that waits for them,
  // whose mask shows them open while it waits.
  test::RunResult masks = RunShell(
      "cd " + test::ShellQuote(dir.path) +
      "\nenv --default-signal=INT \"$VEXLOR\" serve clip.avi >out.txt 2>&1 & pid=$!\n"
      "for i in $(seq 100); do [ -s out.txt ] && break; sleep 0.05; done\nn=0\n"
      "for t in /proc/$pid/task/*; do m=$(sed -n 's/^SigBlk:[[:space:]]*//p' $t/status)\n"
      "  [ $((0x$m & 0x4002)) -eq $((0x4002)) ] || [ \"$(cat $t/comm)\" = vexlor-signals ] ||\n"
      "  n=$((n+1)); done\n"
      "echo \"unblocked $n\"; kill -TERM $pid; wait $pid");
  EXPECT_EQ(masks.out, "unblocked 0\n") << masks.err;
}

// A program file that is not UTF-8 would show, render and save as other
// text: serve refuses it in one line before listening, and leaves it as it is.
TEST(ServeCommandTest, RefusesAProgramThatIsNotUtf8) {
  ScratchDir dir;
  WritePicture(dir.File("in.png"), test::NoisePicture(8, 8, 1));
  const std::string latin1 = "rd=rs;gd=gs;bd=bs; caf\xe9\n";
  test::WriteFile(dir.File("latin1.vx"), latin1);
  test::RunResult file = RunVexlor({"serve", "-f", dir.File("latin1.vx"), dir.File("in.png")});
  EXPECT_EQ(file.status, kExitData);
  EXPECT_EQ(file.out, "");
  EXPECT_EQ(std::count(file.err.begin(), file.err.end(), '\n'), 1) << file.err;
  EXPECT_NE(file.err.find("latin1.vx is not UTF-8 text (byte 22)"), std::string::npos) << file.err;
  EXPECT_EQ(test::ReadFile(dir.File("latin1.vx")), latin1);
  test::RunResult arg = RunVexlor({"serve", "rd=rs;\xe9", dir.File("in.png")});
  EXPECT_EQ(arg.status, kExitData);
  EXPECT_NE(arg.err.find("not UTF-8"), std::string::npos) << arg.err;
}

}  // namespace
}  // namespace vexlor::cli
