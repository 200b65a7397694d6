// vexlor apply on videos, run as a program on clips that ffmpeg makes at test
// time: the frames against the frame mapping and against ffmpeg's own
// pipeline through lossless codecs, the streams and times carried over,
// frame ranges that join into the whole run, and every bad input.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>

#include "cli/media/video/room.h"
#include "cli_test_util.h"

namespace vexlor::test {
namespace {

using cli::Picture;

constexpr int32_t kWidth = 64, kHeight = 48;

// Runs a shell script that must succeed.
std::string Sh(const std::string& script) {
  RunResult r = RunShell(script);
  EXPECT_EQ(r.status, 0) << script << "\n" << r.err;
  return r.out;
}

std::string Q(const std::string& s) { return ShellQuote(s); }

// A clip of `seconds` at 10 frames/s with a tone; `video` and `audio` are
// ffmpeg's encoder options for each.
void MakeClip(const std::string& path, double seconds, const std::string& video,
              const std::string& audio = "-c:a flac", const std::string& size = "64x48") {
  Sh("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size +
     ":rate=10 -f lavfi -i sine=frequency=440:sample_rate=8000 -t " + std::to_string(seconds) +
     " " + video + " " + audio + " " + Q(path));
}

// The frames of a video as ffmpeg decodes them to bgr0, top line first.
std::vector<std::vector<uint32_t>> Frames(const std::string& path, const std::string& flags = "") {
  std::string bytes = Sh("ffmpeg -v error " + flags + " -i " + Q(path) +
                         " -map 0:v -f rawvideo -pix_fmt bgr0 -");
  size_t frameBytes = size_t(kWidth) * kHeight * 4;
  EXPECT_EQ(bytes.size() % frameBytes, 0u);
  std::vector<std::vector<uint32_t>> frames(bytes.size() / frameBytes);
  for (size_t i = 0; i < frames.size(); ++i) {
    frames[i].resize(size_t(kWidth) * kHeight);
    std::memcpy(frames[i].data(), bytes.data() + i * frameBytes, frameBytes);
  }
  return frames;
}

// Each packet's time stamps, size and digest of one kind of stream ("v", "a", "s").
std::string Packets(const std::string& path, const std::string& kind) {
  std::string lines = Sh("ffmpeg -v error -i " + Q(path) + " -map 0:" + kind +
                         " -c copy -f framemd5 - | grep -v '^#'");
  return lines;
}

// The video frames' presentation times, in order, as ffprobe shows them.
std::string FrameTimes(const std::string& path) {
  return Sh("ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 " +
            Q(path) + " | sort -n");
}

RunResult Apply(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"apply"};
  all.insert(all.end(), args.begin(), args.end());
  return RunVexlor(all);
}

TEST(VideoTest, FramesEqualTheFrameMappingWithAndWithoutClampAndRand) {
  ScratchDir dir;
  std::string in = dir.File("in.mkv");
  MakeClip(in, 1.2, "-c:v ffv1 -pix_fmt bgr0");
  std::vector<std::vector<uint32_t>> source = Frames(in);
  ASSERT_EQ(source.size(), 12u);
  struct Case {
    const char* program;
    bool clamp;
  } cases[] = {
      {"rd=rs*1.7;gd=gs;bd=bs*abs(sin(fr/3));", false},
      {"rd=rs*1.7;gd=gs;bd=bs*abs(sin(fr/3));", true},
      {"rd=rand();gd=gs+rand()*0.5;bd=fr/16;", false},
  };
  for (const Case& c : cases) {
    std::string out = dir.File("out.mkv");
    std::vector<std::string> args = {"--codec", "ffv1", c.program, in, out};
    if (!c.clamp) args.insert(args.begin(), "--carry");
    RunResult r = Apply(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::vector<std::vector<uint32_t>> got = Frames(out);
    ASSERT_EQ(got.size(), source.size()) << c.program;
    RandSetState(1);  // the generator's first state, never reseeded after
    for (size_t i = 0; i < source.size(); ++i)
      EXPECT_EQ(Rgb(got[i]), Rgb(MapLikeHost(c.program, c.clamp, source[i], kWidth, kHeight,
                                             int32_t(i))))
          << c.program << " frame " << i;
  }
}

TEST(VideoTest, FramesEqualFfmpegsOwnPipelineInBothDirections) {
  ScratchDir dir;
  std::string in = dir.File("in.mkv");
  MakeClip(in, 1, "-c:v ffv1 -pix_fmt yuv420p");
  const std::string program = "rd=rs;gd=gs*1.2;bd=bs*abs(sin(fr/10))+rand()*0.1;";
  std::string pipe = "ffmpeg -v error -i " + Q(in) +
                     " -f rawvideo -pix_fmt bgr0 - | \"$VEXLOR\" stream --size 64x48 " +
                     Q(program);
  // Decoding: the filter gets the bytes of ffmpeg's bgr0 conversion.
  std::string raw = dir.File("raw.nut");
  ASSERT_EQ(Apply({"--codec", "rawvideo", "--codec-option", "pix_fmt=bgr0", program, in, raw})
                .status,
            0);
  EXPECT_EQ(Sh("ffmpeg -v error -i " + Q(raw) + " -f rawvideo -"), Sh(pipe));
  // Encoding: frames converted to yuv420p as ffmpeg converts its bgr0 input.
  std::string ours = dir.File("ours.mkv"), theirs = dir.File("theirs.mkv");
  ASSERT_EQ(Apply({"--codec", "ffv1", "--codec-option", "pix_fmt=yuv420p", program, in, ours})
                .status,
            0);
  Sh(pipe + " | ffmpeg -v error -f rawvideo -pix_fmt bgr0 -s 64x48 -r 10 -i - -c:v ffv1 "
            "-pix_fmt yuv420p " + Q(theirs));
  auto digests = [&](const std::string& path) {
    return Sh("ffmpeg -v error -i " + Q(path) + " -map 0:v -f framemd5 - | grep -v '^#' | cut -d, -f6");
  };
  EXPECT_EQ(digests(ours), digests(theirs));
  EXPECT_EQ(Sh("ffprobe -v error -select_streams v -show_entries stream=pix_fmt -of csv=p=0 " +
               Q(ours)),
            "yuv420p\n");
}

TEST(VideoTest, DefaultMp4KeepsSoundTimesAndFrameCount) {
  ScratchDir dir;
  std::string in = dir.File("in.mp4"), out = dir.File("out.mp4");
  MakeClip(in, 2, "-c:v libx264 -preset ultrafast -pix_fmt yuv420p", "-c:a aac");
  RunResult r = Apply({"rd=rs;gd=gs;bd=bs*abs(sin(fr/10));", in, out});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no progress off a terminal
  EXPECT_EQ(Packets(out, "a"), Packets(in, "a"));
  EXPECT_EQ(FrameTimes(out), FrameTimes(in));
  EXPECT_EQ(Sh("ffprobe -v error -show_entries stream=codec_name,pix_fmt,nb_frames,avg_frame_rate "
               "-of csv=p=0 " + Q(out)),
            "h264,yuv420p,10/1,20\naac,0/0,17\n");
  // --no-audio leaves the sound out.
  ASSERT_EQ(Apply({"--no-audio", "rd=rs;gd=gs;bd=bs;", in, out}).status, 0);
  EXPECT_EQ(Sh("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + Q(out)), "video\n");
}

TEST(VideoTest, SubtitlesAreCopiedAndAStreamTheContainerCannotHoldIsNamed) {
  ScratchDir dir;
  std::string clip = dir.File("clip.mkv"), in = dir.File("in.mkv"), srt = dir.File("s.srt");
  MakeClip(clip, 1, "-c:v ffv1");
  WriteFile(srt, "1\n00:00:00,100 --> 00:00:00,800\nhello\n\n");
  Sh("ffmpeg -v error -i " + Q(clip) + " -i " + Q(srt) + " -map 0 -map 1 -c copy " + Q(in));
  std::string out = dir.File("out.mkv");
  ASSERT_EQ(Apply({"--codec", "ffv1", "rd=gs;gd=rs;bd=bs;", in, out}).status, 0);
  EXPECT_EQ(Packets(out, "s"), Packets(in, "s"));
  EXPECT_EQ(Packets(out, "a"), Packets(in, "a"));

  WriteFile(dir.File("out.mp4"), "keep me");
  RunResult r = Apply({"rd=gs;gd=rs;bd=bs;", in, dir.File("out.mp4")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("stream 2 (subtitle, subrip) cannot go into a .mp4 file; choose another "
                       "OUTPUT extension (.mkv holds most) or --no-audio"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(dir.File("out.mp4")), "keep me");
  ASSERT_EQ(Apply({"--no-audio", "rd=gs;gd=rs;bd=bs;", in, dir.File("out.mp4")}).status, 0);
}

TEST(VideoTest, RangesRenderedApartJoinIntoTheWholeRun) {
  ScratchDir dir;
  std::string in = dir.File("in.mkv");
  MakeClip(in, 2, "-c:v ffv1 -pix_fmt bgr0");
  const std::string program = "rd=rand();gd=gs*rand();bd=bs+fr/100;";
  std::string whole = dir.File("whole.mkv"), a = dir.File("a.mkv"), b = dir.File("b.mkv");
  // The pieces without sound (its packets do not end where frames do); the
  // join takes the sound from the input, as the README shows.
  ASSERT_EQ(Apply({"--codec", "ffv1", "--no-audio", program, in, whole}).status, 0);
  ASSERT_EQ(Apply({"--codec", "ffv1", "--no-audio", "--frames", "0-6", program, in, a}).status, 0);
  ASSERT_EQ(Apply({"--codec", "ffv1", "--no-audio", "--frames", "7-", program, in, b}).status, 0);
  WriteFile(dir.File("list.txt"), "file 'a.mkv'\nfile 'b.mkv'\n");
  std::string joined = dir.File("joined.mkv");
  Sh("cd " + Q(dir.path) + " && ffmpeg -v error -f concat -i list.txt -c copy joined.mkv");
  std::vector<std::vector<uint32_t>> w = Frames(whole), j = Frames(joined);
  ASSERT_EQ(w.size(), 20u);
  EXPECT_EQ(j, w);
  EXPECT_EQ(FrameTimes(joined), FrameTimes(whole));
  EXPECT_EQ(Frames(b).size(), 13u);
  // A middle range alone: frames 5 to 9 of the whole run.
  std::string mid = dir.File("mid.mkv");
  ASSERT_EQ(Apply({"--codec", "ffv1", "--frames", "5-9", program, in, mid}).status, 0);
  EXPECT_EQ(Frames(mid), std::vector(w.begin() + 5, w.begin() + 10));
  EXPECT_NE(Packets(mid, "a"), "");
}

TEST(VideoTest, RandSeedStartsTheGeneratorForVideosPicturesAndStreams) {
  ScratchDir dir;
  std::string in = dir.File("in.mkv"), out = dir.File("out.mkv");
  MakeClip(in, 0.3, "-c:v ffv1 -pix_fmt bgr0");
  const std::string program = "rd=rand();gd=rand();bd=bs;";
  ASSERT_EQ(Apply({"--codec", "ffv1", "--rand-seed", "4242", program, in, out}).status, 0);
  std::vector<std::vector<uint32_t>> source = Frames(in), got = Frames(out);
  RandSetState(4242);
  for (size_t i = 0; i < source.size(); ++i)
    EXPECT_EQ(Rgb(got[i]), Rgb(MapLikeHost(program, true, source[i], kWidth, kHeight, int32_t(i))));

  Picture picture = NoisePicture(9, 5, 7);
  WriteFile(dir.File("in.ppm"), Bytes(cli::EncodePpm(picture)));
  ASSERT_EQ(RunVexlor({"apply", "--rand-seed", "99", program, dir.File("in.ppm"),
                       dir.File("out.ppm")})
                .status,
            0);
  RandSetState(99);
  cli::Picture expected{9, 5, Rgb(MapLikeHost(program, true, picture.pixels, 9, 5, 0))};
  EXPECT_EQ(ReadFile(dir.File("out.ppm")), Bytes(cli::EncodePpm(expected)));

  RunResult r = RunVexlor({"stream", "--size", "9x5", "--rand-seed", "99", program},
                          std::string(9 * 5 * 4, '\0'));
  ASSERT_EQ(r.status, 0);
  RandSetState(99);
  std::vector<uint32_t> words = MapLikeHost(program, true, std::vector<uint32_t>(45), 9, 5, 0);
  EXPECT_EQ(r.out, std::string(reinterpret_cast<const char*>(words.data()), 45 * 4));
  EXPECT_EQ(RunVexlor({"stream", "--size", "1x1", "--rand-seed", "-1", program}).status, 2);
}

TEST(VideoTest, RandCallsAndFrameRangesAreCountedExactly) {
  EXPECT_EQ(Filter("rd=rs;gd=gs;bd=bs;", false).randCalls(), 0u);
  EXPECT_EQ(Filter("rd=rand();gd=rand()+rand();bd=if(rs,rand(),0);", false).randCalls(), 4u);
  EXPECT_EQ(Filter("a=max(rand(),rand(),rand());rd=a;gd=a;bd=a;", false).randCalls(), 3u);
  uint32_t before = RandState();
  EXPECT_EQ(Filter("rd=rand();gd=gs;bd=bs;", false).randCalls(), 1u);
  EXPECT_EQ(RandState(), before);

  EXPECT_EQ(cli::ParseFrameRange("3-7").first, 3);
  EXPECT_EQ(cli::ParseFrameRange("3-7").last, 7);
  EXPECT_EQ(cli::ParseFrameRange("0-0").last, 0);
  EXPECT_EQ(cli::ParseFrameRange("12-").last, INT64_MAX);
  for (const char* bad : {"", "-", "-5", "5", "7-3", "a-b", "1-2-3", "1 -2", "99999999999-"})
    EXPECT_THROW(cli::ParseFrameRange(bad), cli::Failure) << bad;
}

TEST(VideoTest, VariableFrameRateRotationAndAspectRatioAreKept) {
  ScratchDir dir;
  std::string in = dir.File("in.mkv"), out = dir.File("out.mp4");
  // Frames 5 to 9 dropped: a gap of half a second in the time stamps.
  MakeClip(in, 2, "-vf select='not(between(n\\,5\\,9))',setsar=3/2 -fps_mode vfr -c:v ffv1");
  ASSERT_EQ(Apply({"rd=rs;gd=gs;bd=bs;", in, out}).status, 0);
  EXPECT_EQ(FrameTimes(out), FrameTimes(in));
  EXPECT_NE(FrameTimes(in).find("0.400000\n1.000000\n"), std::string::npos);
  EXPECT_EQ(Sh("ffprobe -v error -select_streams v -show_entries stream=sample_aspect_ratio "
               "-of csv=p=0 " + Q(out)),
            "3:2\n");

  std::string rotated = dir.File("rot.mp4"), turned = dir.File("turned.mp4");
  MakeClip(rotated, 0.5, "-c:v libx264 -preset ultrafast -metadata:s:v rotate=90", "-an");
  ASSERT_EQ(Apply({"rd=rs;gd=gs;bd=bs*0.5;", rotated, turned}).status, 0);
  auto rotation = [&](const std::string& path) {
    return Sh("ffprobe -v error -show_entries stream_side_data=rotation -of csv=p=0 " + Q(path));
  };
  EXPECT_EQ(rotation(turned), rotation(rotated));
  EXPECT_NE(rotation(turned), "");
  // Filtered as stored: the frames keep their stored size.
  EXPECT_EQ(Sh("ffprobe -v error -show_entries stream=width,height -of csv=p=0 " + Q(turned)),
            "64,48\n");
}

TEST(VideoTest, BadInputsGetOneLineAndLeaveNothing) {
  ScratchDir dir;
  std::string good = dir.File("good.mp4"), out = dir.File("out.mp4");
  MakeClip(good, 2, "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -movflags +faststart",
           "-c:a aac");
  std::string mkv = dir.File("good.mkv");
  MakeClip(mkv, 2, "-c:v ffv1");
  std::string bytes = ReadFile(good);
  WriteFile(dir.File("cut.mp4"), bytes.substr(0, bytes.size() * 2 / 3));
  std::string mkvBytes = ReadFile(mkv);
  WriteFile(dir.File("cut.mkv"), mkvBytes.substr(0, mkvBytes.size() / 2));
  std::string damaged = bytes;
  for (size_t i = damaged.size() / 3; i < damaged.size() / 3 + 600; ++i)
    damaged[i] = char(damaged[i] * 7 + 13);
  WriteFile(dir.File("damaged.mp4"), damaged);
  WriteFile(dir.File("text.mp4"), "this is not a video\n");
  Sh("ffmpeg -v error -f lavfi -i sine -t 0.5 " + Q(dir.File("sound.wav")));
  // Two sizes one after the other in one transport stream.
  MakeClip(dir.File("a.h264"), 0.5, "-c:v libx264 -preset ultrafast", "-an");
  MakeClip(dir.File("b.h264"), 0.5, "-c:v libx264 -preset ultrafast", "-an", "32x24");
  Sh("cat " + Q(dir.File("a.h264")) + " " + Q(dir.File("b.h264")) + " > " +
     Q(dir.File("sizes.h264")));
  WriteFile(dir.File("in.png"), Bytes(cli::EncodePng(NoisePicture(4, 4, 1))));

  const std::string prog = "rd=rs;gd=gs;bd=bs;";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string mention;
  } cases[] = {
      {{dir.File("text.mp4"), out}, 1, "text.mp4: not a video or picture file"},
      {{dir.File("sound.wav"), out}, 1, "sound.wav: has no video stream"},
      {{dir.File("cut.mp4"), out}, 1, "cut.mp4: truncated: the file ends at frame "},
      {{dir.File("cut.mkv"), out}, 1, "cut.mkv: truncated: the file ends at frame "},
      {{dir.File("damaged.mp4"), out}, 1, "damaged.mp4: damaged data at frame "},
      {{dir.File("sizes.h264"), out}, 1, "sizes.h264: the frame size changes from 64x48 to 32x24 at "
                                       "frame 5"},
      {{good, dir.File("out.xyz")}, 1, "out.xyz: unknown extension"},
      {{good, dir.File("out.webm")}, 1, "stream 1 (audio, aac) cannot go into a .webm file"},
      {{good, dir.File("out.png")}, 2, "good.mp4 is a video and"},
      {{dir.File("in.png"), out}, 2, "in.png is a picture and"},
      {{"-", out}, 2, "INPUT '-' is read as a picture"},
      {{"--frames", "50-", good, out}, 1, "good.mp4: has no frame 50"},
      {{"--frames", "5", good, out}, 2, "--frames: '5' is not FIRST-LAST"},
      {{"--frame", "5", good, out}, 2, "--frame is for pictures only"},
      {{"--codec", "ffv1", dir.File("in.png"), dir.File("o.png")}, 2, "--codec is for videos"},
      {{"--codec", "nosuch", good, out}, 2, "--codec nosuch: no such video encoder"},
      {{"--codec-option", "bogus=1", good, out}, 2, "--codec-option bogus: libx264 has no such "
                                                    "option"},
      {{"--codec-option", "crf", good, out}, 2, "--codec-option: 'crf' is not KEY=VALUE"},
  };
  std::vector<std::string> before = dir.Names();
  for (const Case& c : cases) {
    for (const std::string& name : {out, dir.File("out.webm")}) WriteFile(name, "keep me");
    std::vector<std::string> args = {"apply"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end() - 2, prog);  // every case ends in INPUT OUTPUT
    RunResult r = RunVexlor(args);
    EXPECT_EQ(r.status, c.status) << c.mention << ": " << r.err;
    EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("vexlor: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(ReadFile(out), "keep me") << c.mention;
  }
  std::vector<std::string> after = dir.Names();
  std::erase(after, "out.mp4");
  std::erase(after, "out.webm");
  std::erase(before, "out.mp4");
  EXPECT_EQ(after, before);
  // Past damage on request: the frames that decode are kept.
  RunResult r = Apply({"--ignore-damage", prog, dir.File("cut.mkv"), dir.File("kept.mkv")});
  EXPECT_EQ(r.status, 0) << r.err;
}

// Starts a long render, sends it `signal` once it is under way and returns
// its exit status and messages.
RunResult Interrupted(const std::string& in, const std::string& out, int signal) {
  return RunShell("\"$VEXLOR\" apply --reference 'rd=sin(rs*9);gd=gs;bd=bs;' " + Q(in) + " " +
                  Q(out) + " & pid=$!; sleep 0.7; kill -" + std::to_string(signal) +
                  " $pid; wait $pid");
}

TEST(VideoTest, InterruptionRemovesThePartialOutputAndKeepsTheOldOne) {
  ScratchDir dir;
  std::string in = dir.File("in.mkv"), out = dir.File("out.mp4");
  Sh("ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25 -t 8 -c:v ffv1 " + Q(in));
  WriteFile(out, "keep me");
  struct {
    int signal, status;
  } cases[] = {{SIGINT, 130}, {SIGTERM, 143}};
  for (const auto& c : cases) {
    RunResult r = Interrupted(in, out, c.signal);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, "vexlor: interrupted; the output was not written\n");
    EXPECT_EQ(ReadFile(out), "keep me");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.mkv", "out.mp4"}));
  }
  // A picture the same way.
  WriteFile(dir.File("big.ppm"), Bytes(cli::EncodePpm(NoisePicture(1500, 1000, 3))));
  WriteFile(dir.File("out.png"), "keep me");
  RunResult r = Interrupted(dir.File("big.ppm"), dir.File("out.png"), SIGINT);
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.err.rfind("vexlor: interrupted", 0), 0u) << r.err;
  EXPECT_EQ(ReadFile(dir.File("out.png")), "keep me");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"big.ppm", "in.mkv", "out.mp4", "out.png"}));
}

TEST(VideoTest, EditorReadsAnyFrameInAnyOrder) {
  ScratchDir dir;
  std::string in = dir.File("in.mp4");
  MakeClip(in, 3, "-c:v libx264 -preset ultrafast -g 7 -bf 2", "-c:a aac");
  std::vector<std::vector<uint32_t>> frames = Frames(in);
  cli::VideoFrames video(in);
  ASSERT_EQ(video.count(), 30);
  EXPECT_EQ(video.width(), kWidth);
  EXPECT_EQ(video.height(), kHeight);
  for (int64_t i : {17, 3, 4, 5, 29, 0, 8, 28}) {
    Picture p = video.Frame(i);
    EXPECT_EQ(Rgb(p.pixels), Rgb(frames[size_t(i)])) << "frame " << i;
  }
  EXPECT_THROW(video.Frame(30), cli::Failure);

  EXPECT_TRUE(cli::IsVideoFile(in));
  WriteFile(dir.File("p.png"), Bytes(cli::EncodePng(NoisePicture(4, 4, 1))));
  WriteFile(dir.File("p.jpg"), Bytes(cli::EncodeJpeg(NoisePicture(4, 4, 1))));
  WriteFile(dir.File("t.txt"), "hello\n");
  for (const char* name : {"p.png", "p.jpg", "t.txt", "missing.mp4"})
    EXPECT_FALSE(cli::IsVideoFile(dir.File(name))) << name;
}

}  // namespace
}  // namespace vexlor::test
