// apply on a video: reading and decoding, filtering and encoding run at the
// same time on their own threads, a few frames apart, so memory stays at a
// few frames whatever the video's length.
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/base/progress.h"
#include "cli/media/video/room.h"
#include "cli/media/video/video_reader.h"
#include "cli/media/video/video_writer.h"

namespace vexlor::cli {

namespace {

// Frames waiting between two stages: enough to keep each stage busy while
// the next one finishes a frame.
constexpr size_t kFramesInFlight = 3;

// A frame to filter and write, or a packet of a copied stream.
struct Work {
  Picture picture;  // empty for a packet
  int64_t index = 0;
  int64_t time = AV_NOPTS_VALUE;
  av::Packet packet;
};

// A queue between two stages that holds a few items; Close ends it after
// its items, Abort at once (a stage failed).
class WorkQueue {
 public:
  // False when aborted.
  bool Push(Work work) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return aborted_ || items_.size() < kFramesInFlight; });
    if (aborted_) return false;
    items_.push_back(std::move(work));
    changed_.notify_all();
    return true;
  }
  // False at the end or when aborted.
  bool Pop(Work& work) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return aborted_ || closed_ || !items_.empty(); });
    if (aborted_ || items_.empty()) return false;
    work = std::move(items_.front());
    items_.pop_front();
    changed_.notify_all();
    return true;
  }
  void Close() { Set(closed_); }
  void Abort() { Set(aborted_); }
  bool aborted() {
    std::lock_guard lock(mutex_);
    return aborted_;
  }

 private:
  void Set(bool& flag) {
    std::lock_guard lock(mutex_);
    flag = true;
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Work> items_;
  bool closed_ = false, aborted_ = false;
};

// The first failure of any stage, rethrown by the main thread.
struct FirstFailure {
  std::mutex mutex;
  std::exception_ptr error;
  void Keep(std::exception_ptr e) {
    std::lock_guard lock(mutex);
    if (!error) error = e;
  }
  bool Failed() {
    std::lock_guard lock(mutex);
    return error != nullptr;
  }
};

// A packet's time in its stream's time base, AV_NOPTS_VALUE if none.
int64_t PacketTime(const AVPacket& p) { return p.pts != AV_NOPTS_VALUE ? p.pts : p.dts; }

// Decodes the input and hands on the frames of the range and the packets of
// the copied streams that fall between the range's first frame and the
// frame after its last. Packets wait until a frame later than them is
// decoded, so that their place in the range is known.
class ReadStage {
 public:
  ReadStage(VideoReader& reader, const VideoJob& job, WorkQueue& out)
      : reader_(reader), job_(job), out_(out) {}

  void Run() {
    for (;;) {
      VideoEvent event = reader_.Next(job_.audio);
      if (event.kind == VideoEvent::kEnd) break;
      if (event.kind == VideoEvent::kPacket) {
        pending_.push_back(std::move(event.packet));
        continue;
      }
      int64_t time = VideoReader::TimeOf(*event.frame);
      // After a seek, a frame that cannot be numbered before the range is one
      // of an open GOP's leading frames; in the range it would be a gap.
      if (event.index < 0 && started_)
        FailData(job_.input + ": a decoded frame's time stamp is none of its packets'; the "
                              "frame cannot be numbered");
      if (!started_ && event.index > job_.range.first && !job_.ignoreDamage)
        FailData(job_.input + ": frame " + std::to_string(job_.range.first) +
                 " was not decoded (the first frame after the seek is frame " +
                 std::to_string(event.index) + ")");
      if (event.index < job_.range.first) {
        Release(time, false);
        continue;
      }
      if (event.index > job_.range.last) {
        Release(time, true);
        pending_.clear();
        break;
      }
      // A whole run keeps what comes before its first frame (such as an
      // audio encoder's lead-in); a later range starts at its first frame.
      Release(time, event.index > job_.range.first || job_.range.first == 0);
      Work work;
      work.picture = reader_.ToPicture(event.frame.get());
      work.index = event.index;
      work.time = time;
      if (!out_.Push(std::move(work))) return;
      started_ = true;
    }
    if (started_) Release(AV_NOPTS_VALUE, true);
    out_.Close();
  }

 private:
  // Hands on (when `keep`) or drops the pending packets before `time` (all
  // of them for AV_NOPTS_VALUE).
  void Release(int64_t time, bool keep) {
    AVRational videoBase = reader_.stream()->time_base;
    for (auto it = pending_.begin(); it != pending_.end();) {
      AVRational base = reader_.format()->streams[(*it)->stream_index]->time_base;
      int64_t t = PacketTime(**it);
      bool before = time == AV_NOPTS_VALUE || t == AV_NOPTS_VALUE ||
                    av_compare_ts(t, base, time, videoBase) < 0;
      if (!before) {
        ++it;
        continue;
      }
      if (keep) {
        Work work;
        work.packet = std::move(*it);
        if (!out_.Push(std::move(work))) return;
      }
      it = pending_.erase(it);
    }
  }

  VideoReader& reader_;
  const VideoJob& job_;
  WorkQueue& out_;
  std::deque<av::Packet> pending_;
  bool started_ = false;
};

// Filters one frame. The one place where a frame meets the filter, so that
// the way frames are mapped can change without touching the stages.
Picture FilterFrame(const VideoJob& job, const Picture& in, int64_t index) {
  Picture out{in.width, in.height, std::vector<uint32_t>(in.pixels.size())};
  job.filter->Map(in.View(), out.View(), static_cast<int32_t>(index));
  if (job.frameDone) job.frameDone(index);
  return out;
}

// Runs a stage's body; a failure is kept and stops every stage.
template <typename Body>
void Guarded(FirstFailure& failure, WorkQueue& a, WorkQueue& b, Body body) {
  try {
    body();
  } catch (...) {
    failure.Keep(std::current_exception());
    a.Abort();
    b.Abort();
  }
}

// The failure of a range that starts past the last frame.
[[noreturn]] void NoFirstFrame(const VideoJob& job) {
  FailData(job.input + ": has no frame " + std::to_string(job.range.first) + " (it ends before)");
}

// Opens the input at the key frame at or before the range's first frame,
// numbering frames by the packets' time stamps (fills `index`), so that a
// range costs the same wherever it lies. A file whose packets lack time
// stamps, or whose container cannot seek to a key frame, is opened anew and
// decoded from the start, as one line says.
std::unique_ptr<VideoReader> OpenAtRange(const VideoJob& job, FrameIndex& index) {
  auto reader = std::make_unique<VideoReader>(job.input, job.ignoreDamage);
  if (job.range.first == 0) return reader;
  index = ScanFrames(*reader);
  const char* why = "its frames cannot be numbered without decoding (packets without time stamps)";
  if (index.complete) {
    if (job.range.first >= static_cast<int64_t>(index.times.size())) NoFirstFrame(job);
    int64_t key = index.KeyBefore(job.range.first);
    if (reader->SeekToKey(index.times[size_t(key)])) {
      reader->NumberBy(index, key);
      return reader;
    }
    why = "its container cannot seek exactly to a key frame";
  }
  std::fprintf(stderr, "vexlor: %s: %s; decoding from the first frame to reach frame %lld\n",
               job.input.c_str(), why, static_cast<long long>(job.range.first));
  return std::make_unique<VideoReader>(job.input, job.ignoreDamage);
}

// The whole run's first time stamp: a range's piece starts there too, so
// that its time stamps are the whole run's less the frames before it.
int64_t WholeRunStart(const VideoReader& reader, const FrameIndex& index) {
  if (index.complete && !index.times.empty()) return index.times.front();
  int64_t start = reader.stream()->start_time;
  return start == AV_NOPTS_VALUE ? 0 : start;
}

}  // namespace

void ApplyVideo(const VideoJob& job) {
  FrameIndex index;
  std::unique_ptr<VideoReader> opened = OpenAtRange(job, index);
  VideoReader& reader = *opened;
  VideoWriter writer(job, reader, 0);
  bool estimated = false;
  int64_t count = reader.FrameCount(estimated);
  Progress progress(job.progress);
  int64_t total = job.range.last == INT64_MAX ? count - job.range.first
                                                : job.range.last - job.range.first + 1;
  if (count > 0 && !estimated) total = std::min(total, count - job.range.first);
  progress.SetTotal(total, estimated && job.range.last == INT64_MAX);

  // rand()'s generator stands where a run from frame 0 would leave it.
  uint64_t pixels = uint64_t(reader.width()) * uint64_t(reader.height());
  job.filter->StartRand(job.randSeed, uint64_t(job.range.first) * pixels);

  WorkQueue decoded, filtered;
  FirstFailure failure;
  int64_t written = 0;
  bool shifted = job.range.first == 0;
  std::thread readThread([&] {
    Guarded(failure, decoded, filtered, [&] { ReadStage(reader, job, decoded).Run(); });
  });
  std::thread writeThread([&] {
    Guarded(failure, decoded, filtered, [&] {
      Work work;
      while (filtered.Pop(work)) {
        if (work.packet) {
          writer.Copy(work.packet.get());
          continue;
        }
        // A range's piece starts where the whole run starts, so that pieces
        // joined follow on.
        if (!shifted && work.time != AV_NOPTS_VALUE)
          writer.SetShift(work.time - WholeRunStart(reader, index));
        shifted = true;
        writer.Write(work.picture, work.time);
        ++written;
      }
      if (filtered.aborted() || failure.Failed()) return;
      if (written == 0) NoFirstFrame(job);
      writer.Finish();
    });
  });
  Guarded(failure, decoded, filtered, [&] {
    Work work;
    while (decoded.Pop(work)) {
      if (!work.packet) {
        work.picture = FilterFrame(job, work.picture, work.index);
        progress.FrameDone();
      }
      if (!filtered.Push(std::move(work))) return;
    }
    // Only a reader that came to the end closes its queue; an aborted one
    // failed, and the writer must not finish the file.
    if (!decoded.aborted()) filtered.Close();
  });
  // Every frame is filtered; the encoder's look-ahead and the file's end are
  // what is left, which can take seconds.
  if (!failure.Failed()) progress.Stage("finishing: encoder");
  readThread.join();
  writeThread.join();
  if (failure.error) std::rethrow_exception(failure.error);
  progress.Finish();
}

}  // namespace vexlor::cli
