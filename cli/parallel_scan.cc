#include "cli/parallel_scan.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "report/evidence.h"
#include "sharpness/assess.h"

namespace lumvet {

namespace {

enum class SlotState { waiting, running, done };

// One photo in flight.
struct Slot {
  std::string path;
  SlotState state = SlotState::waiting;
  std::int32_t start = 0;  // the state it is (or was last) scored from
  bool stale = false;      // running from a start already known to be wrong
  FileScore result;
  std::int32_t end = 0;  // the state after it, when done
  bool missing = false;  // a path that cannot be found: written, never scored
  int error = 0;         // why it cannot be found
};

// The photos in flight live in `window_`, in scan order, from the oldest photo
// not yet written. All of it is guarded by `mutex_`; a worker scores with the
// lock released. std::deque keeps references to its elements valid while others
// are added at the back or removed at the front, and a slot is only removed once
// done, so a worker's slot stays put while it scores.
class ParallelScan {
 public:
  ParallelScan(const PhotoScorer& score, RandomState rs, std::size_t max_in_flight,
               std::int32_t& examined_count, std::int32_t& listed_count, ScoreSink& sink,
               std::uint64_t steps_per_photo, Progress* progress)
      : score_(score),
        steps_per_photo_(steps_per_photo),
        committed_(rs),
        max_in_flight_(max_in_flight),
        examined_count_(examined_count),
        listed_count_(listed_count),
        sink_(sink),
        progress_(progress) {}

  ~ParallelScan() { stop_workers(); }

  // Starts up to `jobs` workers; returns how many run.
  int start_workers(int jobs) {
    for (int i = 0; i < jobs; ++i) {
      // Thread creation reports a lack of resources by throwing; fewer workers
      // (or none, and the caller scores alone) is the answer to that.
      try {
        workers_.emplace_back([this] { work(); });
      } catch (const std::system_error&) {
        break;
      }
    }
    return static_cast<int>(workers_.size());
  }

  // Queues one photo (or a missing entry, done at once), first writing whatever
  // is ready and waiting for room. False once the sink is broken: the walk should
  // stop.
  bool add(const std::string& path, bool missing = false, int error = 0) {
    progress_found(progress_);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!commit_ready(lock)) return false;
      if (window_.size() < max_in_flight_) break;
      slot_done_.wait(lock);
    }
    window_.emplace_back();
    Slot& slot = window_.back();
    slot.path = path;
    if (missing) {
      slot.missing = true;
      slot.error = error;
      slot.state = SlotState::done;  // decodes nothing, so no guess counts it
      return commit_ready(lock);
    }
    work_ready_.notify_one();
    return true;
  }

  // After the walk: writes every photo still in flight, in order, then stops the
  // workers. Returns the state after the last photo written.
  RandomState finish() {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      while (commit_ready(lock) && !window_.empty()) slot_done_.wait(lock);
    }
    stop_workers();
    return committed_;
  }

 private:
  // The best guess of the state that slot p starts from: the committed state
  // advanced for every earlier slot in flight, except those known not to decode.
  std::int32_t guess(std::size_t p) const {
    std::uint64_t decoded = 0;
    for (std::size_t k = 0; k < p; ++k) {
      const Slot& s = window_[k];
      if (s.state != SlotState::done || s.result.decoded) ++decoded;
    }
    return random_jump(committed_.value, steps_per_photo_ * decoded);
  }

  // Slot p turned out not to decode: later slots scored, or being scored, from a
  // guess that counted it as decoded must be scored again. (A photo that does not
  // decode draws nothing, so its own result holds whatever its start.)
  void revise_after(std::size_t p) {
    bool requeued = false;
    for (std::size_t k = p + 1; k < window_.size(); ++k) {
      Slot& s = window_[k];
      if (s.state == SlotState::waiting) continue;
      if (s.state == SlotState::done && !s.result.decoded) continue;
      if (s.start == guess(k)) continue;
      if (s.state == SlotState::running) {
        s.stale = true;
      } else {
        s.state = SlotState::waiting;
        requeued = true;
      }
    }
    if (requeued) work_ready_.notify_all();
  }

  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (quit_) return;
      std::size_t p = 0;
      while (p < window_.size() && window_[p].state != SlotState::waiting) ++p;
      if (p == window_.size()) {
        work_ready_.wait(lock);
        continue;
      }
      Slot& slot = window_[p];
      slot.state = SlotState::running;
      slot.stale = false;
      slot.start = guess(p);
      const std::string path = slot.path;
      RandomState rs{slot.start};

      lock.unlock();
      const FileScore result = score_(path, rs);
      lock.lock();

      slot.result = result;
      slot.end = rs.value;
      if (slot.stale) {
        slot.state = SlotState::waiting;
        continue;  // this thread takes the lowest waiting slot next, likely this one
      }
      slot.state = SlotState::done;
      if (!result.decoded) {
        std::size_t q = 0;
        while (&window_[q] != &slot) ++q;
        revise_after(q);
      }
      slot_done_.notify_all();
    }
  }

  // Writes the done slots at the front of the window, in order, with the lock
  // released around each write. A slot scored from anything but the committed
  // state is sent back to be scored from it. Returns false once the sink is
  // broken.
  bool commit_ready(std::unique_lock<std::mutex>& lock) {
    for (;;) {
      if (sink_broken(sink_)) return false;
      if (window_.empty() || window_.front().state != SlotState::done) return true;
      Slot& head = window_.front();
      if (head.result.decoded && head.start != committed_.value) {
        head.start = committed_.value;
        head.state = SlotState::waiting;
        work_ready_.notify_all();
        return true;
      }
      if (head.result.decoded) committed_.value = head.end;
      const std::string path = std::move(head.path);
      const FileScore result = head.result;
      const bool missing = head.missing;
      const int error = head.error;
      window_.pop_front();
      slot_done_.notify_all();  // room in the window

      lock.unlock();
      progress_before_output(progress_);
      if (missing) {
        write_missing_entry(sink_, path, error);
      } else {
        ++examined_count_;
        if (is_listed(sink_, result)) ++listed_count_;
        write_folder_photo(sink_, path, result);
      }
      progress_done(progress_);
      lock.lock();
    }
  }

  void stop_workers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    work_ready_.notify_all();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
  }

  const PhotoScorer& score_;
  const std::uint64_t steps_per_photo_;  // generator steps of a photo that decodes
  RandomState committed_;                // the state after the last photo written
  const std::size_t max_in_flight_;
  std::int32_t& examined_count_;
  std::int32_t& listed_count_;
  ScoreSink& sink_;
  Progress* const progress_;  // may be null; used on the walking thread only

  std::mutex mutex_;
  std::condition_variable work_ready_;  // a slot is waiting, or quit_
  std::condition_variable slot_done_;   // a slot is done, or the window has room
  std::deque<Slot> window_;
  bool quit_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace

void scan_photos_in_parallel(std::string& path, bool recurse, int jobs, const PhotoScorer& score,
                             std::int32_t& examined_count, std::int32_t& listed_count,
                             RandomState& rs, ScoreSink& sink, std::uint64_t steps_per_photo) {
  const std::size_t max_in_flight =
      static_cast<std::size_t>(jobs < 1 ? 1 : jobs) * PHOTOS_IN_FLIGHT_PER_JOB;
  ParallelScan scan(score, rs, max_in_flight, examined_count, listed_count, sink, steps_per_photo,
                    nullptr);
  if (scan.start_workers(jobs) == 0) {
    scan_photos(path, recurse, score, examined_count, listed_count, rs, sink);
    return;
  }
  walk_photos(
      path, recurse, [&scan](const std::string& photo) { return scan.add(photo); }, sink.notes);
  rs = scan.finish();
}

void scan_entries_in_parallel(const EntrySource& source, int jobs, const PhotoScorer& score,
                              std::int32_t& examined_count, std::int32_t& listed_count,
                              RandomState& rs, ScoreSink& sink, std::uint64_t steps_per_photo,
                              Progress* progress) {
  const std::size_t max_in_flight =
      static_cast<std::size_t>(jobs < 1 ? 1 : jobs) * PHOTOS_IN_FLIGHT_PER_JOB;
  ParallelScan scan(score, rs, max_in_flight, examined_count, listed_count, sink, steps_per_photo,
                    progress);
  if (scan.start_workers(jobs) == 0) {
    scan_entries(source, score, examined_count, listed_count, rs, sink, progress);
    return;
  }
  source([&scan](const std::string& path, bool missing, int error) {
    return scan.add(path, missing, error);
  });
  progress_total_known(progress);
  rs = scan.finish();
}

namespace {

// The frame that a scoring decode keeps for the report's pictures: one per
// thread, its planes' memory reused from photo to photo, emptied once the
// pictures are made.
KeptFrame& thread_frame() {
  thread_local KeptFrame frame;
  return frame;
}

}  // namespace

FileScore score_contrast_photo(const SvmModel& model, const std::string& path, RandomState& rs,
                               bool evidence, const DecodeOptions& decode) {
  if (!evidence) return score_image_file_checked(model, path, FEATURE_SCALE, rs, decode, nullptr);
  PatchEvidence patches;
  KeptFrame& frame = thread_frame();
  FileScore result =
      score_image_file_with_evidence(model, path, FEATURE_SCALE, rs, patches, decode, &frame);
  if (result.decoded) result.evidence = contrast_evidence(path, patches, &frame);
  frame.clear();
  return result;
}

FileScore score_sharpness_photo(const SharpnessModel& model, const std::string& path,
                                bool evidence, const DecodeOptions& decode) {
  if (!evidence) {
    const SharpnessResult r = assess_sharpness_file(path, model, decode);
    return FileScore{r.score, r.decoded, r.source};
  }
  SlopeMap map;
  KeptFrame& frame = thread_frame();
  const SharpnessResult r = assess_sharpness_file(path, model, decode, &map, &frame);
  FileScore result{r.score, r.decoded, r.source};
  if (r.decoded) result.evidence = sharpness_evidence(path, r, map, &frame);
  frame.clear();
  return result;
}

void scan_folder(std::string& path, const SvmModel& model, std::int32_t& examined_count,
                 std::int32_t& listed_count, bool recurse, RandomState& rs, ScoreSink& sink,
                 int jobs, const DecodeOptions& decode) {
  const bool evidence = sink.report != nullptr;
  const PhotoScorer score = [&model, evidence, decode](const std::string& photo,
                                                       RandomState& state) {
    return score_contrast_photo(model, photo, state, evidence, decode);
  };
  if (jobs > 1) {
    scan_photos_in_parallel(path, recurse, jobs, score, examined_count, listed_count, rs, sink);
  } else {
    scan_photos(path, recurse, score, examined_count, listed_count, rs, sink);
  }
}

void scan_folder_sharpness(std::string& path, const SharpnessModel& model,
                           std::int32_t& examined_count, std::int32_t& listed_count, bool recurse,
                           ScoreSink& sink, int jobs, const DecodeOptions& decode) {
  const bool evidence = sink.report != nullptr;
  const PhotoScorer score = [&model, evidence, decode](const std::string& photo, RandomState&) {
    return score_sharpness_photo(model, photo, evidence, decode);
  };
  RandomState unused{0};  // the assessor draws nothing
  if (jobs > 1) {
    scan_photos_in_parallel(path, recurse, jobs, score, examined_count, listed_count, unused, sink,
                            0);
  } else {
    scan_photos(path, recurse, score, examined_count, listed_count, unused, sink);
  }
}

}  // namespace lumvet
