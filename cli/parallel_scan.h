// Folder mode on several threads, with exactly the output of one.
//
// Each photo that decodes draws 120 generator values and one that does not draws
// none, so the state a photo starts from is the scan's seed advanced 120 steps
// for every earlier photo that decoded. Workers take photos in scan order and
// score each from a guess of that state (random_jump of the last committed state
// over the earlier photos still in flight, counting those not yet finished as
// decoded). An ordered committer accepts a result only when it was scored from
// the exact state, writes it, and otherwise has the photo scored again; a wrong
// guess needs a photo that fails to decode while later ones are already being
// scored, so it is rare.
//
// scan_folder, lumvet's folder mode, chooses between this and the one-thread
// scan_photos of cli/folder_scan.h, which knows nothing of threads.
#pragma once

#include <cstdint>
#include <string>

#include "cli/folder_scan.h"
#include "cli/output.h"
#include "imaging/imaging.h"
#include "scoring/linear_model.h"
#include "scoring/random.h"
#include "sharpness/sharpness_model.h"

namespace lumvet {

// Most photos in flight (being scored, or scored and waiting for their turn to be
// written) per worker thread.
inline constexpr int PHOTOS_IN_FLIGHT_PER_JOB = 8;

// scan_photos with every photo scored by `score` on `jobs` worker threads
// (jobs >= 2; `score` is called on several threads at once) and handed to `sink` in scan order, the
// counters and the final RandomState exactly as scan_photos leaves them. The calling thread walks
// the folders and writes. Stops early once the sink is broken; photos being
// scored then are finished and dropped. If no thread can be started, this is
// scan_photos.
// `steps_per_photo` is what `score` advances `rs` by for a photo that decodes
// (STEPS_PER_SCORED_FILE for the contrast scorer, 0 for a scorer that draws
// nothing).
void scan_photos_in_parallel(std::string& path, bool recurse, int jobs, const PhotoScorer& score,
                             std::int32_t& examined_count, std::int32_t& listed_count,
                             RandomState& rs, ScoreSink& sink,
                             std::uint64_t steps_per_photo = STEPS_PER_SCORED_FILE);

// scan_entries on `jobs` worker threads (jobs >= 2), as scan_photos_in_parallel
// scores a folder: the same output, counters and final RandomState as
// scan_entries. A missing entry keeps its place in the order and draws nothing.
void scan_entries_in_parallel(const EntrySource& source, int jobs, const PhotoScorer& score,
                              std::int32_t& examined_count, std::int32_t& listed_count,
                              RandomState& rs, ScoreSink& sink, std::uint64_t steps_per_photo,
                              Progress* progress = nullptr);

// One photo as the contrast assessor scores it (score_image_file_checked with
// FEATURE_SCALE); with `evidence`, also the report's evidence of it, with the
// same score and the same draws.
FileScore score_contrast_photo(const SvmModel& model, const std::string& path, RandomState& rs,
                               bool evidence, const DecodeOptions& decode = {});
// One photo as the sharpness assessor scores it; with `evidence`, also the
// report's evidence, with the same score.
FileScore score_sharpness_photo(const SharpnessModel& model, const std::string& path,
                                bool evidence, const DecodeOptions& decode = {});

// scan_photos with score_image_file_checked (model, path, FEATURE_SCALE, rs).
// With a report on the sink, every photo's evidence is gathered by the thread
// that scores it (score_contrast_photo).
// With `jobs` above 1 the photos are scored on that many threads
// (scan_photos_in_parallel); the output, the counters and the final RandomState
// are the same for every number of jobs.
// `decode` says how camera raw files are read.
void scan_folder(std::string& path, const SvmModel& model, std::int32_t& examined_count,
                 std::int32_t& listed_count, bool recurse, RandomState& rs, ScoreSink& sink,
                 int jobs = 1, const DecodeOptions& decode = {});

// The same walk with the sharpness assessor: every photo scored by
// assess_sharpness_file with `model`, nothing drawn from any generator, so a
// photo's score depends on its pixels alone; the output is the same for every
// number of jobs. Evidence as scan_folder gathers it.
void scan_folder_sharpness(std::string& path, const SharpnessModel& model,
                           std::int32_t& examined_count, std::int32_t& listed_count, bool recurse,
                           ScoreSink& sink, int jobs = 1, const DecodeOptions& decode = {});

}  // namespace lumvet
