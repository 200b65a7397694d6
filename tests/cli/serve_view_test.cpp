// The editor's looking aids through its API: a pixel's trace agrees with
// vexlor pixel and with the render, previews are the sizes and formats
// asked for, the language's reference runs its own examples, a video's
// header fields, and the decoded-frame cache decodes each frame once.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/serve/frame_cache.h"
#include "cli/serve/serve.h"
#include "cli_test_util.h"

namespace vexlor::cli {
namespace {

using nlohmann::json;
using test::RunVexlor;
using test::ScratchDir;

constexpr int32_t kWidth = 61, kHeight = 37;

// A server on a noise picture or on a video made at test time, in a thread.
class ServeViewTest : public ::testing::Test {
 protected:
  void Start(const std::string& input) {
    ServeOptions options;
    options.input = input;
    options.program = "rd=rs;gd=gs;bd=bs;";
    server = std::make_unique<EditorServer>(options, OpenFrameSource(options.input));
    port = server->Bind();
    serving = std::thread([this] { server->Serve(); });
    client = std::make_unique<httplib::Client>("127.0.0.1", port);
  }
  void SetUp() override {
    WritePicture(dir.File("in.png"), test::NoisePicture(kWidth, kHeight, 11));
    Start(dir.File("in.png"));
  }
  void TearDown() override {
    server->Stop();
    serving.join();
  }

  httplib::Result Post(const std::string& path, const json& body) {
    return client->Post(path, body.dump(), "application/json");
  }
  json PostJson(const std::string& path, const json& body, int status = 200) {
    httplib::Result res = Post(path, body);
    EXPECT_TRUE(res);
    if (!res) return {};
    EXPECT_EQ(res->status, status) << res->body;
    return json::parse(res->body);
  }

  ScratchDir dir;
  std::unique_ptr<EditorServer> server;
  std::thread serving;
  std::unique_ptr<httplib::Client> client;
  int port = 0;
};

std::span<const uint8_t> BodyBytes(const httplib::Result& res) {
  return {reinterpret_cast<const uint8_t*>(res->body.data()), res->body.size()};
}

// What vexlor pixel prints for the source bytes of a pixel: the values line
// and the packed word.
std::string PixelCommand(const std::string& program, bool clamp, int32_t frame, uint32_t px) {
  std::vector<std::string> args = {"pixel", "--packed", "--frame", std::to_string(frame),
                                   "--bytes",
                                   std::to_string(px >> 16 & 255) + "," +
                                       std::to_string(px >> 8 & 255) + "," +
                                       std::to_string(px & 255)};
  if (!clamp) args.push_back("--carry");
  args.push_back(program);
  test::RunResult r = RunVexlor(args);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// A trace's value as vexlor pixel prints it: infinities come as text.
std::string Printed(const json& v) {
  if (v.is_string()) return v == "Infinity" ? "inf" : v == "-Infinity" ? "-inf" : "nan";
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v.get<double>());
  return text;
}

// The trace's output as vexlor pixel prints it.
std::string PrintedOutput(const json& trace) {
  const json& v = trace["output"]["values"];
  return Printed(v[0]) + " " + Printed(v[1]) + " " + Printed(v[2]) + "\n" +
         trace["output"]["packed"].get<std::string>() + "\n";
}

TEST_F(ServeViewTest, TraceAgreesWithPixelAndWithTheRenderedPixel) {
  Picture in = ReadPicture(dir.File("in.png"));
  struct Case {
    const char* program;
    bool clamp;
    int32_t frame;
  } cases[] = {
      {"rd=gs;gd=rs;bd=bs*2;", false, 0},
      {"k=rs*3-1;rd=k;gd=gs*gs*300;bd=bs+fr/7;", false, 9},
      {"k=rs*3-1;rd=k;gd=gs*gs*300;bd=bs+fr/7;", true, -4},
      {"a=sin(rs*pi*fr);rd=if(a>0,a,0-a);gd=med(rs,gs,bs);bd=e/4;", true, 3},
      {"rd=1/0;gd=0-1/0;bd=bs;", true, 0},  // values JSON has no numbers for
  };
  const int32_t points[][2] = {{0, 0}, {kWidth - 1, kHeight - 1}, {17, 5}, {3, 30}};
  for (const Case& c : cases) {
    httplib::Result render =
        Post("/api/render", {{"program", c.program}, {"clamp", c.clamp}, {"frame", c.frame}});
    ASSERT_EQ(render->status, 200) << render->body;
    Picture out = DecodePng(BodyBytes(render), "render");
    for (auto [x, y] : points) {
      json t = PostJson("/api/trace", {{"program", c.program}, {"clamp", c.clamp},
                                       {"frame", c.frame}, {"x", x}, {"y", y}});
      uint32_t src = in.pixels[size_t(y) * kWidth + size_t(x)];
      SCOPED_TRACE(std::string(c.program) + " at " + std::to_string(x) + "," + std::to_string(y));
      EXPECT_EQ(t["source"]["bytes"], json({src >> 16 & 255, src >> 8 & 255, src & 255}));
      EXPECT_EQ(PrintedOutput(t), PixelCommand(c.program, c.clamp, c.frame, src));
      uint32_t rendered = out.pixels[size_t(y) * kWidth + size_t(x)];
      EXPECT_EQ(t["output"]["bytes"],
                json({rendered >> 16 & 255, rendered >> 8 & 255, rendered & 255}));
    }
  }
  json t = PostJson("/api/trace", {{"program", "k=rs*2;rd=k;gd=k+gs;bd=bs;"}, {"x", 1}, {"y", 2}});
  ASSERT_EQ(t["statements"].size(), 4u);
  EXPECT_EQ(t["statements"][0]["name"], "k");
  EXPECT_EQ(t["statements"][0]["newVariable"], true);
  EXPECT_EQ(t["statements"][2]["start"], 12);
  EXPECT_EQ(t["statements"][2]["value"], t["output"]["values"][1]);
}

TEST_F(ServeViewTest, TraceOfRandIsThePixelsOwnValueInTheRender) {
  const std::string program = "n=rand();rd=n;gd=rand()*rs;bd=bs;";
  httplib::Result render = Post("/api/render", {{"program", program}, {"frame", 2}});
  ASSERT_EQ(render->status, 200);
  Picture out = DecodePng(BodyBytes(render), "render");
  Picture in = ReadPicture(dir.File("in.png"));
  for (auto [x, y] : {std::pair{0, kHeight - 1}, {0, 0}, {kWidth - 1, 0}, {30, 18}}) {
    json t = PostJson("/api/trace", {{"program", program}, {"frame", 2}, {"x", x}, {"y", y}});
    uint32_t rendered = out.pixels[size_t(y) * kWidth + size_t(x)];
    EXPECT_EQ(t["output"]["bytes"], json({rendered >> 16 & 255, rendered >> 8 & 255,
                                          rendered & 255}))
        << x << "," << y;
    // The frame mapping visits the bottom line's first pixel first: there
    // rand() gives its first values, as in a fresh vexlor pixel.
    if (x == 0 && y == kHeight - 1) {
      EXPECT_EQ(PrintedOutput(t),
                PixelCommand(program, false, 2, in.pixels[size_t(y) * kWidth + size_t(x)]));
    }
  }
}

TEST_F(ServeViewTest, TraceRefusesPlacesOutsideTheFrameAndProgramsThatDoNotRun) {
  for (json body : {json{{"program", "rd=rs;"}, {"x", kWidth}, {"y", 0}},
                    json{{"program", "rd=rs;"}, {"x", 0}, {"y", -1}},
                    json{{"program", "rd=rs;"}, {"x", 0}},
                    json{{"program", "rd=rs;"}, {"x", 0.5}, {"y", 0}}}) {
    json e = PostJson("/api/trace", body, 400);
    EXPECT_NE(e["error"].get<std::string>().find("'"), std::string::npos) << e;
  }
  json refused = PostJson("/api/trace", {{"program", "rd=rs;gd=(gs;"}, {"x", 0}, {"y", 0}}, 422);
  EXPECT_FALSE(refused["runs"]);
  EXPECT_EQ(refused["error"]["statement"], 2);
}

TEST_F(ServeViewTest, PreviewsAreTheFormatAndSizeAskedForAndExactPngIsTheDefault) {
  json body = {{"program", "rd=gs;gd=bs;bd=rs;"}, {"format", "jpeg"}, {"maxWidth", 20}};
  httplib::Result jpeg = Post("/api/render", body);
  ASSERT_EQ(jpeg->status, 200) << jpeg->body;
  EXPECT_EQ(jpeg->get_header_value("Content-Type"), "image/jpeg");
  Picture small = DecodeJpeg(BodyBytes(jpeg), "preview");
  EXPECT_EQ(small.width, 16);  // reduced by a whole factor: 61 / 4, rounded up
  EXPECT_EQ(small.height, 10);

  body["format"] = "png";
  body["maxWidth"] = 1000;
  body["maxHeight"] = 19;
  Picture png = DecodePng(BodyBytes(Post("/api/render", body)), "reduced");
  EXPECT_EQ(png.width, 31);
  EXPECT_EQ(png.height, 19);

  httplib::Result src = client->Get("/api/source?format=jpeg&maxWidth=30&maxHeight=30");
  ASSERT_EQ(src->status, 200);
  EXPECT_EQ(DecodeJpeg(BodyBytes(src), "source").width, 21);  // 61 / 3, rounded up
  for (const char* bad : {"/api/source?format=gif", "/api/source?maxWidth=0",
                          "/api/source?maxHeight=x"})
    EXPECT_EQ(client->Get(bad)->status, 400) << bad;
  body["format"] = "webp";
  EXPECT_EQ(PostJson("/api/render", body, 400)["error"], "'format' must be \"png\" or \"jpeg\"");
}

TEST_F(ServeViewTest, CarryWarningComesWithARenderThatCarriesWithoutClamp) {
  httplib::Result carries =
      Post("/api/render", {{"program", "rd=rs*4;gd=gs;bd=bs;"}, {"clamp", false}});
  ASSERT_EQ(carries->status, 200);
  EXPECT_NE(carries->get_header_value("X-Carry-Warning").find("carr"), std::string::npos);
  httplib::Result clamped =
      Post("/api/render", {{"program", "rd=rs*4;gd=gs;bd=bs;"}, {"clamp", true}});
  EXPECT_FALSE(clamped->has_header("X-Carry-Warning"));
}

TEST_F(ServeViewTest, EveryNameHasItsTextAndEveryExampleRuns) {
  httplib::Result res = client->Get("/api/language");
  ASSERT_EQ(res->status, 200);
  json language = json::parse(res->body);
  ASSERT_GT(language["entries"].size(), 40u);
  for (const json& e : language["entries"]) {
    EXPECT_FALSE(e["about"].get<std::string>().empty()) << e;
    std::string example = e["example"];
    EXPECT_TRUE(PostJson("/api/check", {{"program", example}})["runs"]) << example;
  }
  ASSERT_EQ(language["examples"].size(), 8u);
  for (const json& x : language["examples"]) {
    httplib::Result render =
        Post("/api/render", {{"program", x["program"]}, {"clamp", x["clamp"]}, {"frame", 5}});
    EXPECT_EQ(render->status, 200) << x;
    EXPECT_FALSE(render->has_header("X-Carry-Warning")) << x;
    EXPECT_TRUE(PostJson("/api/check", {{"program", x["program"]}})["warnings"].empty()) << x;
  }
  EXPECT_EQ(client->Get("/favicon.ico")->get_header_value("Content-Type"), "image/svg+xml");
}

TEST_F(ServeViewTest, AVideosHeaderGivesItsRotationAndRate) {
  TearDown();
  test::RunResult made = test::RunShell(
      "cd " + dir.path +
      " && ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=12 -frames:v 30 -c:v libx264 "
      "-g 10 -pix_fmt yuv420p plain.mp4"
      " && ffmpeg -v error -i plain.mp4 -c copy -metadata:s:v:0 rotate=90 turned.mp4");
  ASSERT_EQ(made.status, 0) << made.err;
  Start(dir.File("turned.mp4"));
  json info = json::parse(client->Get("/api/info")->body);
  // The tag leaves a display matrix of 90 degrees counterclockwise: players
  // (ffmpeg's own autorotate too) turn the frames 270 degrees clockwise.
  EXPECT_EQ(info["rotation"], 270);
  EXPECT_DOUBLE_EQ(info["frameRate"].get<double>(), 12.0);
  EXPECT_EQ(info["frames"], 30);
  EXPECT_EQ(info["width"], 64);  // the stored frame's size: its pixels are filtered
  // Frames read in any order, through seeks and the cache, are the frames
  // read one after another.
  std::vector<std::string> inOrder;
  for (int frame = 0; frame < 30; ++frame)
    inOrder.push_back(client->Get("/api/source?frame=" + std::to_string(frame))->body);
  TearDown();
  Start(dir.File("turned.mp4"));
  for (int frame : {29, 3, 2, 1, 17, 18, 0, 9, 10, 25, 11}) {
    httplib::Result src = client->Get("/api/source?frame=" + std::to_string(frame));
    ASSERT_EQ(src->status, 200);
    EXPECT_TRUE(src->body == inOrder[size_t(frame)]) << "frame " << frame;
  }
}

// Frames by index that count how often each is decoded; key frames every
// `gop` frames.
class CountingSource : public FrameSource {
 public:
  CountingSource(int64_t count, int64_t gop) : count_(count), gop_(gop), decoded_(count) {}
  int64_t count() const override { return count_; }
  int32_t width() const override { return 4; }
  int32_t height() const override { return 2; }
  bool video() const override { return true; }
  int64_t KeyBefore(int64_t index) const override { return index / gop_ * gop_; }
  Picture Frame(int64_t index) override {
    ++decoded_[size_t(index)];
    ++calls;
    return {4, 2, std::vector<uint32_t>(8, uint32_t(index))};
  }
  int calls = 0;
  int Decoded(int64_t index) const { return decoded_[size_t(index)]; }

 private:
  int64_t count_, gop_;
  std::vector<int> decoded_;
};

TEST(FrameCacheTest, SteppingBackAfterAJumpAndPlayingDecodeEachFrameOnce) {
  CountingSource source(100, 25);
  FrameCache cache(source, 4 * 2 * 4 * 20);  // room for 20 frames
  ASSERT_EQ(cache.capacity(), 20u);
  ASSERT_EQ(cache.back(), 8);
  EXPECT_EQ(cache.Get(60)->pixels[0], 60u);
  // From its key frame at 50: 52..60 are kept, 50 and 51 are not.
  EXPECT_EQ(source.calls, 9);
  for (int64_t i = 59; i >= 52; --i) EXPECT_EQ(cache.Get(i)->pixels[0], uint32_t(i));
  EXPECT_EQ(source.calls, 9);
  for (int64_t i = 61; i < 70; ++i) cache.Get(i);  // playing on decodes one a frame
  EXPECT_EQ(source.calls, 18);
  // A jump to just after a key frame keeps the frames from the key frame on.
  cache.Get(27);
  EXPECT_EQ(source.Decoded(24), 0);
  EXPECT_EQ(source.calls, 21);
  cache.Get(25);
  EXPECT_EQ(source.calls, 21);
  // Full: the least recently used go first, and a picture has its one frame.
  for (int64_t i = 0; i < 100; ++i) EXPECT_EQ(cache.Get(i)->pixels[0], uint32_t(i));
  EXPECT_EQ(source.Decoded(99), 1);
  int before = source.calls;
  cache.Get(99);
  cache.Get(80);
  EXPECT_EQ(source.calls, before);
  cache.Get(10);
  EXPECT_GT(source.calls, before);
}

}  // namespace
}  // namespace vexlor::cli
