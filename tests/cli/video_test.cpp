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

// Pieces joined with the concat demuxer and a stream copy, in `dir`.
std::string Join(const ScratchDir& dir, const std::vector<std::string>& pieces,
                 const std::string& joined) {
  std::string list;
  for (const std::string& p : pieces) list += "file '" + p + "'\n";
  WriteFile(dir.File("list.txt"), list);
  Sh("cd " + Q(dir.path) + " && ffmpeg -v error -y -f concat -i list.txt -c copy " + Q(joined));
  return dir.File(joined);
}

// Each packet's flags in decoding order ("K_" for a key frame).
std::vector<std::string> PacketFlags(const std::string& path) {
  std::string out = Sh("ffprobe -v error -select_streams v -show_entries packet=flags -of csv=p=0 " +
                       Q(path));
  std::vector<std::string> flags;
  for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
    flags.push_back(out.substr(at, end - at));
  return flags;
}

TEST(VideoTest, RangesSeekToTheKeyFrameBeforeThemAndGiveTheWholeRunsFrames) {
  ScratchDir dir;
  // H.264 with B-frames and open GOPs: after a seek, the frames before a
  // key frame in showing order lean on frames that were never decoded.
  std::string in = dir.File("in.mp4");
  MakeClip(in, 4, "-c:v libx264 -g 7 -bf 3 -x264-params open-gop=1", "-c:a aac");
  const std::string program = "rd=rs*rand();gd=gs;bd=bs+fr/100;";
  std::string whole = dir.File("whole.mkv");
  ASSERT_EQ(Apply({"--codec", "ffv1", "--no-audio", program, in, whole}).status, 0);
  std::vector<std::vector<uint32_t>> w = Frames(whole);
  ASSERT_EQ(w.size(), 40u);
  // Ranges on and off key frames (0, 7, 14, ... are), the last one past the end.
  std::vector<std::string> pieces;
  for (const char* range : {"0-5", "6-7", "8-20", "21-23", "24-99"}) {
    std::string piece = std::string("p") + range + ".mkv";
    RunResult r = Apply({"--codec", "ffv1", "--no-audio", "--frames", range, program, in,
                         dir.File(piece)});
    ASSERT_EQ(r.status, 0) << range << r.err;
    EXPECT_EQ(r.err.find("decoding from the first frame"), std::string::npos) << r.err;
    pieces.push_back(piece);
  }
  std::string joined = Join(dir, pieces, "joined.mkv");
  EXPECT_EQ(Frames(joined), w);
  EXPECT_EQ(FrameTimes(joined), FrameTimes(whole));
  // A piece's own time stamps start where the whole run's do.
  EXPECT_EQ(FrameTimes(dir.File("p8-20.mkv")).substr(0, 9), "0.000000\n");

  // Packets without time stamps (a raw H.264 stream): decoded from the start.
  std::string raw = dir.File("in.h264"), rawWhole = dir.File("raw.mkv"), rawMid = dir.File("mid.mkv");
  Sh("ffmpeg -v error -i " + Q(in) + " -map 0:v -c copy -bsf:v h264_mp4toannexb " + Q(raw));
  ASSERT_EQ(Apply({"--codec", "ffv1", program, raw, rawWhole}).status, 0);
  RunResult r = Apply({"--codec", "ffv1", "--no-warnings", "--frames", "12-19", program, raw, rawMid});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "vexlor: " + raw + ": its frames cannot be numbered without decoding (packets "
                   "without time stamps); decoding from the first frame to reach frame 12\n");
  std::vector<std::vector<uint32_t>> rw = Frames(rawWhole);
  ASSERT_EQ(rw.size(), 40u);
  EXPECT_EQ(Frames(rawMid), std::vector(rw.begin() + 12, rw.begin() + 20));

  // MPEG-TS seeks by time to no key frame in particular: decoded from the start.
  std::string ts = dir.File("in.ts"), tsMid = dir.File("ts.mkv");
  Sh("ffmpeg -v error -i " + Q(in) + " -map 0:v -c copy " + Q(ts));
  r = Apply({"--codec", "ffv1", "--no-warnings", "--no-audio", "--frames", "17-25", program, ts, tsMid});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("decoding from the first frame to reach frame 17"), std::string::npos) << r.err;
  EXPECT_EQ(Frames(tsMid), std::vector(w.begin() + 17, w.begin() + 26));
}

TEST(VideoTest, H264PiecesStartWithAKeyFrameAndJoinInMp4AndMkv) {
  ScratchDir dir;
  std::string in = dir.File("in.mkv");
  MakeClip(in, 4, "-c:v libx264 -g 9 -bf 3 -x264-params open-gop=1");
  const std::string program = "rd=rs*rand();gd=gs;bd=bs;";
  for (const char* ext : {"mp4", "mkv"}) {
    std::string whole = dir.File(std::string("whole.") + ext);
    ASSERT_EQ(Apply({"--no-audio", program, in, whole}).status, 0);
    std::vector<std::string> pieces;
    for (const char* range : {"0-12", "13-25", "26-"}) {
      std::string piece = std::string("h") + range + "." + ext;
      ASSERT_EQ(Apply({"--no-audio", "--frames", range, program, in, dir.File(piece)}).status, 0);
      std::vector<std::string> flags = PacketFlags(dir.File(piece));
      ASSERT_FALSE(flags.empty());
      EXPECT_EQ(flags[0].substr(0, 1), "K") << piece;
      pieces.push_back(piece);
    }
    std::string joined = Join(dir, pieces, std::string("joined.") + ext);
    EXPECT_EQ(FrameTimes(joined), FrameTimes(whole)) << ext;
    // Every frame decodes without a word from the decoder.
    EXPECT_EQ(Sh("ffmpeg -v error -i " + Q(joined) + " -f null - 2>&1"), "") << ext;
    EXPECT_EQ(Frames(joined).size(), 40u) << ext;
  }
  // The other encoders by extension (VP9, MPEG-4) start a piece the same way.
  for (const char* ext : {"webm", "avi"}) {
    std::string piece = dir.File(std::string("piece.") + ext);
    RunResult r = Apply({"--no-audio", "--frames", "13-20", program, in, piece});
    ASSERT_EQ(r.status, 0) << ext << r.err;
    EXPECT_EQ(PacketFlags(piece).at(0).substr(0, 1), "K") << ext;
    EXPECT_EQ(Frames(piece).size(), 8u) << ext;
  }
}

TEST(VideoTest, FramesCommandCountsFramesAndListsKeyFrames) {
  ScratchDir dir;
  std::string in = dir.File("in.mp4");
  MakeClip(in, 3, "-c:v libx264 -g 10 -bf 2", "-c:a aac");
  RunResult r = RunVexlor({"frames", in});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "frames: 30\nkey frames: 0 10 20\n");
  EXPECT_EQ(RunVexlor({"frames", "--count", in}).out, "30\n");
  EXPECT_EQ(RunVexlor({"frames", "--keys", in}).out, "0\n10\n20\n");
  // A count the container does not state (Matroska) is counted too.
  std::string mkv = dir.File("in.mkv");
  Sh("ffmpeg -v error -i " + Q(in) + " -c copy " + Q(mkv));
  EXPECT_EQ(RunVexlor({"frames", "--count", mkv}).out, "30\n");

  EXPECT_EQ(RunVexlor({"frames", "--count", "--keys", in}).status, 2);
  EXPECT_EQ(RunVexlor({"frames"}).status, 2);
  std::string png = dir.File("p.png");
  Sh("ffmpeg -v error -f lavfi -i testsrc2=size=8x8 -frames:v 1 " + Q(png));
  r = RunVexlor({"frames", png});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not a video"), std::string::npos) << r.err;
  WriteFile(dir.File("text.txt"), "hello");
  EXPECT_EQ(RunVexlor({"frames", dir.File("text.txt")}).status, 1);
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

// A rotated clip (a phone's portrait video) through each kind of container:
// MP4 and MOV keep the rotation; the others get the frames turned as players
// show the input, with one line saying so.
TEST(VideoTest, RotationIsKeptOrTheFramesAreTurnedUpright) {
  ScratchDir dir;
  std::string in = dir.File("phone.mp4");
  MakeClip(dir.File("clip.mp4"), 0.5, "-c:v libx264 -qp 0 -pix_fmt yuv444p", "-an");
  // As a phone tags it: the display matrix, which a copy with this tag makes.
  Sh("ffmpeg -v error -i " + Q(dir.File("clip.mp4")) + " -c copy -metadata:s:v:0 rotate=90 " +
     Q(in));
  auto probe = [&](const std::string& path) {
    return Sh("ffprobe -v error -show_entries stream=width,height:stream_side_data=rotation "
              "-of csv=p=0 " + Q(path));
  };
  const std::string prog = "rd=rs;gd=gs;bd=bs;";
  for (const char* name : {"kept.mp4", "kept.mov"}) {
    RunResult r = Apply({prog, in, dir.File(name)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(probe(dir.File(name)), probe(in)) << name;
  }
  // Lossless throughout, so the turned frames are the input as shown.
  RunResult r = Apply({"--codec", "ffv1", prog, in, dir.File("turned.mkv")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "vexlor: warning: " + dir.File("turned.mkv") + ": a .mkv file keeps no "
            "rotation; the frames are turned upright (a quarter turn anticlockwise), as players "
            "show the input\n");
  EXPECT_EQ(probe(dir.File("turned.mkv")), "48,64\n");
  std::vector<std::vector<uint32_t>> shown = Frames(in), turned = Frames(dir.File("turned.mkv"));
  ASSERT_EQ(turned.size(), shown.size());
  int worst = 0;
  for (size_t f = 0; f < shown.size(); ++f)
    for (size_t i = 0; i < shown[f].size(); ++i)
      for (int shift : {0, 8, 16})
        worst = std::max(worst, std::abs(int(shown[f][i] >> shift & 255) -
                                         int(turned[f][i] >> shift & 255)));
  EXPECT_LE(worst, 2);
  r = Apply({"--no-warnings", prog, in, dir.File("turned.webm")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(probe(dir.File("turned.webm")), "48,64\n");
}

// Sound a container cannot hold is encoded into a codec it takes, in one
// line, keeping its length and loudness; --audio-codec re-encodes any.
TEST(VideoTest, SoundTheContainerCannotHoldIsEncodedForIt) {
  ScratchDir dir;
  MakeClip(dir.File("mp3.avi"), 2, "-c:v mpeg4", "-c:a libmp3lame -ar 44100");
  MakeClip(dir.File("opus.mkv"), 2, "-c:v ffv1", "-c:a libopus -ar 48000");
  auto sound = [&](const std::string& path) {
    return Sh("ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 " +
              Q(path));
  };
  // The mean loudness of the sound, as ffmpeg decodes it.
  auto measure = [&](const std::string& path) {
    std::string out = Sh("ffmpeg -nostdin -i " + Q(path) + " -map 0:a -af volumedetect "
                         "-f null - 2>&1 | grep -o 'mean_volume: [-0-9.]*' | cut -d' ' -f2");
    return std::stod(out);
  };
  struct Case {
    const char *in, *out, *codec, *encoder;
  } cases[] = {{"mp3.avi", "out.webm", "opus", "libopus"}, {"opus.mkv", "out.avi", "mp3", "libmp3lame"}};
  for (const Case& c : cases) {
    RunResult r = Apply({"rd=rs;gd=gs;bd=bs;", dir.File(c.in), dir.File(c.out)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "vexlor: warning: " + dir.File(c.in) + ": its stream 1 (audio, " +
                         sound(dir.File(c.in)).substr(0, sound(dir.File(c.in)).size() - 1) +
                         ") cannot go into a ." + cli::Extension(c.out) + " file; it is encoded as " +
                         c.encoder + " at " + (std::string(c.encoder) == "libopus" ? "80" : "160") +
                         " kb/s\n");
    EXPECT_EQ(sound(dir.File(c.out)), std::string(c.codec) + "\n");
    EXPECT_NEAR(measure(dir.File(c.out)), measure(dir.File(c.in)), 0.5) << c.out;
    double inLength = std::stod(Sh("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Q(dir.File(c.in))));
    double outLength = std::stod(Sh("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Q(dir.File(c.out))));
    EXPECT_NEAR(outLength, inLength, 0.15) << c.out;
  }
  RunResult r = Apply({"--audio-codec", "flac", "rd=rs;gd=gs;bd=bs;", dir.File("opus.mkv"),
                       dir.File("flac.mkv")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(sound(dir.File("flac.mkv")), "flac\n");
  r = Apply({"--audio-codec", "nonesuch", "rd=rs;gd=gs;bd=bs;", dir.File("opus.mkv"),
             dir.File("x.mkv")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--audio-codec nonesuch: no such audio encoder"), std::string::npos);
}

// Titles, dates and languages go along, unless --strip-metadata.
TEST(VideoTest, ContainerAndStreamMetadataAreKeptUnlessStripped) {
  ScratchDir dir;
  MakeClip(dir.File("in.mp4"), 0.5, "-c:v libx264 -preset ultrafast -metadata title=Holiday",
           "-c:a aac -metadata:s:a:0 language=fra");
  auto tags = [&](const std::string& path) {
    return Sh("ffprobe -v error -show_entries format_tags=title:stream_tags=language -of csv=p=0 " +
              Q(path));
  };
  ASSERT_EQ(Apply({"rd=rs;gd=gs;bd=bs;", dir.File("in.mp4"), dir.File("out.mkv")}).status, 0);
  std::string kept = tags(dir.File("out.mkv"));
  EXPECT_NE(kept.find("Holiday"), std::string::npos) << kept;
  EXPECT_NE(kept.find("fra"), std::string::npos) << kept;
  ASSERT_EQ(Apply({"--strip-metadata", "rd=rs;gd=gs;bd=bs;", dir.File("in.mp4"),
                   dir.File("bare.mkv")}).status, 0);
  std::string bare = tags(dir.File("bare.mkv"));
  EXPECT_EQ(bare.find("Holiday"), std::string::npos) << bare;
  EXPECT_EQ(bare.find("fra"), std::string::npos) << bare;
}

// A 10-bit HDR clip stays 10-bit with true tags where the encoder can; an
// 8-bit output leaves the HDR transfer tag out. Both are said.
TEST(VideoTest, DeeperInputKeepsItsDepthWhereTheEncoderCan) {
  ScratchDir dir;
  std::string in = dir.File("hdr.mkv");
  MakeClip(in, 0.5, "-c:v libx265 -x265-params log-level=none -pix_fmt yuv420p10le "
           "-color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc", "-an");
  auto video = [&](const std::string& path) {
    return Sh("ffprobe -v error -show_entries stream=pix_fmt,color_transfer,color_primaries "
              "-of csv=p=0 " + Q(path));
  };
  RunResult r = Apply({"rd=rs;gd=gs;bd=bs;", in, dir.File("out.mp4")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "vexlor: warning: " + in + " has 10-bit video; it is filtered at 8 bits a "
                   "channel and written as 10-bit (yuv420p10le)\n");
  EXPECT_EQ(video(dir.File("out.mp4")), "yuv420p10le,smpte2084,bt2020\n");
  r = Apply({"--codec", "mpeg4", "rd=rs;gd=gs;bd=bs;", in, dir.File("out.avi")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("the output is 8-bit, so its HDR transfer tag is left out"),
            std::string::npos) << r.err;
  EXPECT_EQ(video(dir.File("out.avi")).find("smpte2084"), std::string::npos);
}

// The encoder's own log stays quiet and HEVC is tagged hvc1; a variable
// rate into AVI is said; the progress line shows the encoder's drain.
TEST(VideoTest, EncoderLogTagRateAndDrainAreTakenCareOf) {
  ScratchDir dir;
  MakeClip(dir.File("in.mkv"), 1, "-c:v ffv1", "-an");
  RunResult r = Apply({"--codec", "libx265", "rd=rs;gd=gs;bd=bs;", dir.File("in.mkv"),
                       dir.File("hevc.mp4")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Sh("ffprobe -v error -show_entries stream=codec_tag_string -of csv=p=0 " +
               Q(dir.File("hevc.mp4"))), "hvc1\n");

  r = Apply({"rd=rs;gd=gs;bd=bs;", dir.File("in.mkv"), dir.File("even.avi")});
  EXPECT_EQ(r.err, "") << "a constant rate is not remarked on";
  MakeClip(dir.File("gaps.mkv"), 2, "-vf select='not(between(n\\,5\\,9))' -fps_mode vfr -c:v ffv1", "-an");
  r = Apply({"rd=rs;gd=gs;bd=bs;", dir.File("gaps.mkv"), dir.File("gaps.avi")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("gaps.mkv has a variable frame rate; a .avi file counts frames at a "
                       "constant 10 a second"), std::string::npos) << r.err;

  // On a terminal (script gives one), the last line names the drain.
  RunResult shown = RunShell("export VEXLOR; script -qec " + Q("\"$VEXLOR\" apply 'rd=rs;gd=gs;bd=bs;' " +
                             Q(dir.File("in.mkv")) + " " + Q(dir.File("shown.mp4"))) + " /dev/null");
  EXPECT_EQ(shown.status, 0) << shown.out;
  EXPECT_NE(shown.out.find(", finishing: encoder"), std::string::npos) << shown.out;
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
  WriteFile(dir.File("huge.y4m"), "YUV4MPEG2 W60000 H60000 F25:1 Ip A1:1 C420jpeg\nFRAME\n" +
                                      std::string(1000, '\x55'));

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
      {{dir.File("huge.y4m"), out}, 1, "huge.y4m: declares frames of 60000x60000: picture is "
                                       "too large"},
      {{dir.File("sizes.h264"), out}, 1, "sizes.h264: the frame size changes from 64x48 to 32x24 at "
                                       "frame 5"},
      {{good, dir.File("out.xyz")}, 2, "out.xyz: unknown extension"},
      {{"--audio-codec", "libx264", good, dir.File("out.webm")}, 2,
       "--audio-codec libx264: no such audio encoder"},
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
      {{"--codec-option", "crf=abc", good, out}, 2, "--codec-option crf=abc: libx264 takes no "
                                                    "such value for crf"},
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

// A sound stream copied as it is whose setup no decoder reads (a Vorbis setup
// header with its first codebook's sync pattern damaged) would give a file
// no player opens: refused like damaged video, with the ways on.
TEST(VideoTest, CopiedSoundWithADamagedSetupIsRefused) {
  ScratchDir dir;
  std::string good = dir.File("vorbis.mkv");
  MakeClip(good, 1, "-c:v ffv1", "-c:a libvorbis");
  std::string bytes = ReadFile(good);
  size_t setup = bytes.find("\x05vorbis");
  ASSERT_NE(setup, std::string::npos);
  bytes.replace(setup + 8, 3, "XXX");
  std::string bad = dir.File("bad.mkv");
  WriteFile(bad, bytes);
  const std::string prog = "rd=rs;gd=gs;bd=bs;";
  RunResult r = Apply({prog, bad, dir.File("out.mkv")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vexlor: " + bad + ": its stream 1 (audio, vorbis) is damaged: its decoder "
                   "cannot read the stream's setup; --no-audio leaves it out, --ignore-damage "
                   "copies it as it is\n");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"bad.mkv", "vorbis.mkv"}));
  EXPECT_EQ(Apply({"--no-audio", prog, bad, dir.File("out.mkv")}).status, 0);
  EXPECT_EQ(Apply({prog, good, dir.File("good-out.mkv")}).status, 0);
}

// Starts a long render after `prelude`, with SIGINT and SIGQUIT at their
// default (a shell's background job ignores them, and the tool then keeps
// ignoring them), sends it `signal` once it is under way (a video: once its
// temporary output file is there) and returns its exit status and messages.
RunResult Interrupted(const std::string& in, const std::string& out, int signal,
                      const std::string& prelude = "") {
  std::string dir = Q(std::filesystem::path(out).parent_path().string());
  std::string wait = out.ends_with(".png") ? "sleep 0.7"
                                           : "timeout 60 sh -c 'until ls -A \"$0\" | grep -q "
                                             "vexlor-; do sleep 0.02; done' " + dir + "; sleep 0.1";
  return RunShell(prelude + "env --default-signal=INT,QUIT \"$VEXLOR\" apply --reference " +
                  "'rd=sin(rs*9);gd=gs;bd=bs;' " + Q(in) + " " + Q(out) + " & pid=$!; " + wait +
                  "; kill -" + std::to_string(signal) + " $pid; wait $pid");
}

TEST(VideoTest, InterruptionRemovesThePartialOutputAndKeepsTheOldOne) {
  ScratchDir dir;
  std::string in = dir.File("in.mkv"), out = dir.File("out.mp4");
  Sh("ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25 -t 8 -c:v ffv1 " + Q(in));
  WriteFile(out, "keep me");
  struct {
    int signal, status;
  } cases[] = {{SIGHUP, 129}, {SIGINT, 130}, {SIGQUIT, 131}, {SIGPIPE, 141}, {SIGTERM, 143}};
  for (const auto& c : cases) {
    RunResult r = Interrupted(in, out, c.signal);
    EXPECT_EQ(r.status, c.status) << strsignal(c.signal);
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

  // A hang-up its parent ignores (nohup) stays ignored: the render ends and
  // writes its output.
  WriteFile(dir.File("kept.png"), "old");
  r = Interrupted(dir.File("big.ppm"), dir.File("kept.png"), SIGHUP, "trap '' HUP; ");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.File("kept.png")).substr(1, 3), "PNG");
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
