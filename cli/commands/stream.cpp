// vexlor stream: filters raw frames of 32-bit pixels (bytes B, G, R, X, top
// line first) from standard input to standard output, one frame at a time,
// so memory stays at three frames whatever the stream's length: while one
// frame is filtered in place, the next one is read and the previous one
// written.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <memory>
#include <span>

#include "cli/base/program.h"
#include "cli/base/progress.h"
#include "cli/commands/common.h"
#include "cli/media/picture.h"
#include "explain/warnings.h"

namespace vexlor::cli {

namespace {

struct FrameSize {
  int32_t width, height;
};

// Parses "WxH".
FrameSize ParseSize(const std::string& text) {
  size_t x = text.find_first_of("xX");
  int64_t w = -1, h = -1;
  auto whole = [](const std::string& s, int64_t& out) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
      return false;
    out = std::stoll(s);
    return true;
  };
  if (x == std::string::npos || !whole(text.substr(0, x), w) || !whole(text.substr(x + 1), h))
    FailUsage("--size: '" + text + "' is not WIDTHxHEIGHT (for example 640x480)");
  if (const char* problem = PictureSizeProblem(w, h)) FailUsage("--size " + text + ": " + problem);
  return {static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

// A frame's pixels, not initialised: the memory is touched as it is read.
using FrameBuffer = std::unique_ptr<uint32_t[]>;

// The stream's bytes B, G, R, X of each pixel as packed values, in place.
void PixelsFromBytes(std::span<uint32_t> words) {
  for (uint32_t& w : words) {
    uint8_t b[4];
    std::memcpy(b, &w, 4);
    w = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  }
}

// Packed values back to the stream's byte order, in place.
void PixelsToBytes(std::span<uint32_t> words) {
  for (uint32_t& w : words) {
    uint8_t b[4] = {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
                    static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 24)};
    std::memcpy(&w, b, 4);
  }
}

// What a read or a write on another thread did: the bytes it moved and the
// error it met (0 for none).
struct Transfer {
  size_t bytes;
  int error;
};

// Reads up to one frame from standard input into `words`.
Transfer ReadFrame(uint32_t* words, size_t frameBytes) {
  size_t got = std::fread(words, 1, frameBytes, stdin);
  return {got, std::ferror(stdin) ? (errno ? errno : EIO) : 0};
}

// Writes one frame to standard output and flushes it.
Transfer WriteFrame(const uint32_t* words, size_t frameBytes) {
  size_t put = std::fwrite(words, 1, frameBytes, stdout);
  if (put != frameBytes || std::fflush(stdout) != 0) return {put, errno ? errno : EIO};
  return {put, 0};
}

// Fails with a transfer's error as the system describes it.
[[noreturn]] void FailTransfer(const Transfer& t, const char* what) {
  errno = t.error;
  FailErrno(what);
}

// Refuses a terminal where raw frames are read or written.
void CheckNotTerminal(int fd, const char* what) {
  if (::isatty(fd) == 1)
    FailUsage(std::string(what) + " is a terminal; stream reads and writes raw frames (see "
                                  "'vexlor stream --help')");
}

// The frames of a stream through three buffers: frame k is read into
// buffer k % 3 and filtered there in place, while the read of frame k + 1 and
// the write of frame k - 1 run on threads of their own. A buffer is had when
// its first frame is read. Errors are reported in the stream's order: a frame
// is written before a later read's failure is.
class FramePipe {
 public:
  FramePipe(FrameSize size, Progress& progress)
      : size_(size), pixels_(size_t(size.width) * size_t(size.height)), progress_(progress) {}

  // Filters frames numbered start, start + 1, ... until the input ends or
  // `limit` frames are done, telling `carries` of each.
  void Run(Filter& filter, int32_t start, int64_t limit, CarryReporter& carries) {
    if (limit > 0) reading_ = std::async(std::launch::async, ReadFrame, Buffer(0), Bytes());
    for (int64_t done = 0; done < limit; ++done) {
      Transfer r = reading_.get();
      if (r.bytes == 0 && !r.error) break;
      CheckFrame(r, done, start);
      // The buffer of frame done + 1 last held frame done - 2, written already.
      if (done + 1 < limit)
        reading_ = std::async(std::launch::async, ReadFrame, Buffer(done + 1), Bytes());
      std::span<uint32_t> frame(Buffer(done), pixels_);
      PixelsFromBytes(frame);
      PixelView view{frame.data(), size_.width, size_.height, size_.width * 4};
      filter.Map(view, view, static_cast<int32_t>(start + done));
      carries.FrameDone(filter.tally(), start + done);
      PixelsToBytes(frame);
      FinishWrite();
      writing_ = std::async(std::launch::async, WriteFrame, frame.data(), Bytes());
    }
    FinishWrite();
  }

 private:
  size_t Bytes() const { return pixels_ * 4; }

  uint32_t* Buffer(int64_t k) {
    FrameBuffer& b = frames_[k % 3];
    if (!b) b = std::make_unique_for_overwrite<uint32_t[]>(pixels_);
    return b.get();
  }

  // Waits for the write under way, failing on its error.
  void FinishWrite() {
    if (!writing_.valid()) return;
    Transfer w = writing_.get();
    if (w.error) FailTransfer(w, "standard output: cannot write");
    progress_.FrameDone();
  }

  // Fails, after the write under way, when read `r` of frame `done` is not a
  // whole frame or the frame's number passes the largest.
  void CheckFrame(const Transfer& r, int64_t done, int32_t start) {
    if (r.error) {
      FinishWrite();
      FailTransfer(r, "standard input: cannot read");
    }
    if (r.bytes < Bytes()) {
      FinishWrite();
      FailData("standard input ends inside frame " + std::to_string(done + 1) + " (" +
               std::to_string(r.bytes) + " of its " + std::to_string(Bytes()) + " bytes) after " +
               std::to_string(done) + " complete frames");
    }
    if (start + done > INT32_MAX) {
      FinishWrite();
      FailData("frame number passes 2147483647 after " + std::to_string(done) + " frames");
    }
  }

  FrameSize size_;
  size_t pixels_;
  Progress& progress_;
  FrameBuffer frames_[3];
  std::future<Transfer> reading_, writing_;
};

int RunStream(Args& args) {
  if (const std::string* file = args.Value("-f"); file && *file == "-")
    FailUsage("-f -: stream reads its frames from standard input, not the program");
  std::string program = TakeProgramToRun(args);
  ExpectPositional(args, 0, "one PROGRAM");
  const std::string* sizeText = args.Value("--size");
  if (!sizeText) FailUsage("stream needs --size WIDTHxHEIGHT (or -s WIDTHxHEIGHT)");
  FrameSize size = ParseSize(*sizeText);
  auto start = static_cast<int32_t>(args.Number("--start-frame", 0));
  int64_t limit = args.Number("--frames", INT64_MAX);
  Filter filter(program, ClampFrom(args), RunOptionsFrom(args));
  std::optional<uint32_t> seed = RandSeedOption(args);
  RequireRuns(program, filter);
  RequireDoesWhatItSays(args, program);
  if (seed) filter.StartRand(*seed, 0);
  CheckNotTerminal(STDIN_FILENO, "standard input");
  CheckNotTerminal(STDOUT_FILENO, "standard output");
  Progress progress = Progress::ForArgs(args);
  CarryReporter carries(args);
  FramePipe(size, progress).Run(filter, start, limit, carries);
  progress.Finish();
  carries.Finish(filter.tally());
  return 0;
}

constexpr OptionRow kOptions[] = {
    {.name = "--size", .value = "WxH", .help = "frame size in pixels (required)",
     .kind = ValueKind::kText, .alias = "-s"},
    kCarryOption,
    kClampOption,
    kExactTextOption,
    kLenientOption,
    Number("--start-frame", "N", kInt32Min, kInt32Max,
           "frame number of the first frame (default 0)"),
    Number("--frames", "K", 0, INT64_MAX, "stop after K frames (default: at the end of the input)"),
    kThreadsOption,
    kReferenceOption,
    kRandSeedOption,
    kQuietOption,
    kNoWarningsOption,
    ProgramFileOption("read PROGRAM from FILE"),
};

}  // namespace

extern const Command kStreamCommand = {
    .name = "stream",
    .summary = "filter raw 32-bit video frames from standard input to output",
    .usage = "vexlor stream --size WxH [OPTIONS] PROGRAM",
    .about =
        "Reads raw frames of W x H 32-bit pixels from standard input (bytes B, G, R, X\n"
        "per pixel, top line first: ffmpeg's bgr0 or bgra), filters them with frame\n"
        "numbers N, N+1, ... and writes each frame in the same format to standard\n"
        "output as soon as it is done; the X byte out is the pixel's top byte as the\n"
        "filter wrote it. A last, incomplete frame is an error after every complete\n"
        "frame was written. PROGRAM, the clamping (--carry) and the refusals\n"
        "(--lenient) are as in 'apply'.",
    .options = kOptions,
    .examplesTitle = "example (a video through ffmpeg and back)",
    .examples =
        "ffmpeg -v error -i in.mp4 -f rawvideo -pix_fmt bgr0 - |\n"
        "  vexlor stream --size 640x360 'rd=rs;gd=gs;bd=bs*abs(sin(fr/10));' |\n"
        "  ffmpeg -v error -f rawvideo -pix_fmt bgr0 -s 640x360 -r 25 -i - -pix_fmt yuv420p \\\n"
        "    out.mp4",
    .after = "('vexlor apply PROGRAM in.mp4 out.mp4' does all of it in one command.)",
    .run = RunStream,
    .takesSignals = true,
};

}  // namespace vexlor::cli
