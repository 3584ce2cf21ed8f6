#include "cli/lumvet.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "build_config.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/parallel_scan.h"
#include "cli/path_runs.h"
#include "cli/photo_seed.h"
#include "cli/progress.h"
#include "imaging/decode_budget.h"
#include "imaging/imaging.h"
#include "platform/platform.h"
#include "platform/program_start.h"
#include "scoring/constants.h"
#include "scoring/file_scoring.h"
#include "scoring/linear_model.h"
#include "scoring/model_file.h"
#include "scoring/random.h"
#include "sharpness/assess.h"
#include "sharpness/sharpness_model.h"

namespace lumvet {

namespace {

constexpr const char* PROGRAM_NAME = "lumvet";

constexpr const char* LONG_OPTIONS_TEXT =
    "\n"
    "Long options:\n"
    "  --seed=N         start the random generator at N, so that a run can be repeated\n"
    "  --format=FORMAT  text (default), or tsv or jsonl: one record per examined image\n"
    "  --threshold=N    list photos scoring above N instead of 10, or 50 with\n"
    "                   --assessor=sharpness (text format)\n"
    "  --assessor=NAME  contrast (default): the patch-contrast score described above;\n"
    "                   sharpness: how steep the photo's edges are, scored 0-100 as the\n"
    "                   chance in per cent that the photo is blurred (listed above 50)\n"
    "  --model=FILE     score with the model file FILE that lumvet-train wrote\n"
    "  --jobs=N         score a folder's photos on N threads (default: every core);\n"
    "                   the output is the same for every N\n"
    "  --decode-memory=MIB  the memory decoding may take at once, shared by all\n"
    "                   threads (default 1024; 0: no limit); the output is the same\n"
    "                   for every value\n"
    "  --raw=MODE       camera raw files: preview (default) scores the embedded\n"
    "                   full-size JPEG preview when there is one, else a develop;\n"
    "                   develop always demosaics the sensor data\n"
    "  --all-paths      score every path given, in order, not only the first\n"
    "  --files-from=FILE  score the paths listed in FILE, one per line ('-': standard\n"
    "                   input), after any given on the command line\n"
    "  -0, --null       the list is separated by NUL bytes (find -print0)\n"
    "  --ext=LIST       names a folder scan takes, e.g. jpg,jpeg,png (default jpg)\n"
    "  --print0         print only the paths of listed photos, each ended by a NUL\n"
    "  --seed-per-photo draw each photo's patches from the seed and the photo's bytes,\n"
    "                   so that it scores the same in any folder, order or list\n"
    "  --quiet          no progress line and no hints on a terminal\n"
    "  --report=DIR     also write a report to open in a browser: DIR/index.html with\n"
    "                   every photo's score, thumbnail and a 100% crop of the region\n"
    "                   that decided its score\n"
    "  --help           print this text\n"
    "  --version        print the version\n";

// The path that the command line names, found as the argument scan and the path
// resolution below describe.
struct PathChoice {
  bool usable = false;
  bool recurse = false;
  bool directory = false;
  std::string path;
  // Every argument the scan took for a path, in order (for --all-paths), and
  // whether the first of them exists.
  std::vector<std::string> named;
  bool first_exists = false;
};

// Argument scan. Arguments 1 ... are examined in order. One beginning with '-' is
// a switch whose second character alone counts: 'r' or 'R' asks for recursion;
// anything else is reported as "invalid switch %c" and ends the scan at once.
// The first other argument is the path; later ones are ignored.
//
// Path resolution. When no existing path was found and there are at least two
// arguments and no recursion, the path may be one with blanks that the shell has
// split: the arguments after the program name, joined with single spaces, are
// tried whole as one path. Otherwise there is no usable path.
PathChoice choose_path(const std::vector<std::string>& args, std::FILE* notes) {
  PathChoice choice;
  std::size_t path_index = 0;
  platform::PathKind kind = platform::PathKind::missing;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.empty() && arg[0] == '-') {
      const char letter = arg.size() > 1 ? arg[1] : '\0';
      if (letter == 'r' || letter == 'R') {
        choice.recurse = true;
        continue;
      }
      // A lone '-' has no letter; a control character is not shown on a terminal.
      const std::string shown = letter == '\0' ? "-" : platform::shown_on(notes, {letter});
      std::fprintf(notes, "invalid switch %s\n", shown.c_str());
      break;
    }
    if (path_index == 0) {
      path_index = i;
      kind = platform::path_kind(arg);
    }
    choice.named.push_back(arg);
  }
  choice.first_exists = kind != platform::PathKind::missing;
  if (kind != platform::PathKind::missing) {
    choice.path = args[path_index];
  } else {
    if (args.size() <= 2 || choice.recurse) return choice;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (i > 1) choice.path += ' ';
      choice.path += args[i];
    }
    kind = platform::path_kind(choice.path);
    if (kind == platform::PathKind::missing) return choice;
  }
  choice.usable = true;
  choice.directory = kind == platform::PathKind::directory;
  return choice;
}

int finish_output(std::FILE* out, std::FILE* err, int write_errno, int exit_code) {
  return platform::finish_output(out, err, PROGRAM_NAME, exit_code, write_errno);
}

// With --all-paths (or --print0), more than one path argument is a run over all
// of them when the first exists, or when it does not, the joined arguments do
// not name a path either, and another of them exists.
bool scores_every_path(const PathChoice& choice) {
  if (choice.named.size() < 2) return false;
  if (choice.first_exists) return true;
  if (choice.usable) return false;  // the joined arguments name a path
  return std::any_of(choice.named.begin() + 1, choice.named.end(), [](const std::string& path) {
    return platform::path_kind(path) != platform::PathKind::missing;
  });
}

// "lumvet: NAME: REASON" for a path that cannot be found.
void report_missing(std::FILE* out, std::FILE* err, const std::string& path) {
  int error = 0;
  if (platform::path_kind(path, error) != platform::PathKind::missing) return;
  report_problem(out, err, PROGRAM_NAME,
                 platform::shown_on(err, path) + ": " + std::strerror(error));
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Writes the report's page once every photo is in it. A report that could not
// be written completely is an output that could not be written.
int finish_run(ReportWriter* report, std::FILE* out, std::FILE* err, int write_errno,
               int exit_code) {
  if (report != nullptr) {
    std::string error;
    if (!finish_report(*report, error)) {
      std::fprintf(err, "%s: %s\n", PROGRAM_NAME, error.c_str());
      exit_code = EXIT_OUTPUT_FAILED;
    }
  }
  return finish_output(out, err, write_errno, exit_code);
}

}  // namespace

int run_lumvet(int argc, char** argv, std::FILE* out, std::FILE* err) {
  const std::vector<std::string> all(argv, argv + argc);
  LongOptions options;
  std::vector<std::string> args;
  std::string error;
  if (!parse_long_options(all, options, args, error)) {
    report_problem(out, err, PROGRAM_NAME, error);
    return EXIT_BAD_OPTION;
  }
  if (options.help) {
    std::fputs(USAGE_TEXT, out);
    std::fputs(LONG_OPTIONS_TEXT, out);
    return finish_output(out, err, 0, EXIT_DONE);
  }
  if (options.version) {
    print_version(out, PROGRAM_NAME, LUMVET_VERSION);
    return finish_output(out, err, 0, EXIT_DONE);
  }

  // A model file named by an option must be usable before anything else is done.
  const bool sharpness = options.assessor == Assessor::sharpness;
  SvmModel file_model;
  SharpnessModel sharpness_model;
  if (!options.model_file.empty()) {
    const bool loaded = sharpness
                            ? load_sharpness_model_file(options.model_file, sharpness_model, error)
                            : load_svm_model_file(options.model_file, file_model, error);
    if (!loaded) {
      report_problem(out, err, PROGRAM_NAME, error);
      return EXIT_BAD_OPTION;
    }
  } else if (sharpness) {
    sharpness_model = embedded_sharpness_model();
  }
  if (sharpness && !options.threshold_given) options.threshold = SHARPNESS_LIST_THRESHOLD;

  // A file list must be readable before anything else is done.
  PathList list;
  std::unique_ptr<std::FILE, FileCloser> list_file;
  if (!options.files_from.empty()) {
    if (options.files_from == "-") {
      list.in = stdin;
    } else {
      int open_error = 0;
      list_file.reset(platform::open_input(options.files_from, open_error));
      if (!list_file) {
        report_problem(out, err, PROGRAM_NAME,
                       "cannot read file list " + platform::shown_on(err, options.files_from) +
                           ": " + std::strerror(open_error));
        return EXIT_BAD_OPTION;
      }
      list.in = list_file.get();
    }
    list.delimiter = options.null_separated ? '\0' : '\n';
  }

  // Standard output carries nothing but records in the machine-readable formats.
  std::FILE* notes = options.format == OutputFormat::text ? out : err;
  const PathChoice choice = choose_path(args, notes);
  const bool every_path = options.all_paths || options.print0;
  const bool many = list.in != nullptr || (every_path && scores_every_path(choice));
  if (!many && !choice.usable) {
    // Which path was missing: every one with --all-paths, else the first when a
    // person reads the error stream.
    if (every_path) {
      for (const auto& path : choice.named) report_missing(out, err, path);
    } else if (!choice.named.empty() && platform::is_terminal(err)) {
      report_missing(out, err, choice.named[0]);
    }
    std::fputs(USAGE_TEXT, notes);
    std::fflush(notes);
    return EXIT_USAGE;
  }

  // The report folder must be usable before anything is scored.
  ReportWriter report;
  ReportWriter* report_sink = nullptr;
  if (!options.report_dir.empty()) {
    if (!open_report(options.report_dir, sharpness ? "sharpness" : "contrast", options.threshold,
                     report, error)) {
      report_problem(out, err, PROGRAM_NAME, error);
      return EXIT_BAD_OPTION;
    }
    report_sink = &report;
  }

  start_imaging_library();
  set_decode_memory_budget(options.decode_memory);
  const DecodeOptions decode{options.raw};
  const bool evidence = report_sink != nullptr;
  SvmModel model;
  PhotoScoring scoring;
  RandomState rs{0};  // the sharpness assessor and --seed-per-photo draw nothing from it
  if (sharpness) {
    scoring.score = [&sharpness_model, evidence, decode](const std::string& photo, RandomState&) {
      return score_sharpness_photo(sharpness_model, photo, evidence, decode);
    };
  } else {
    if (options.seed) {
      rs.value = *options.seed;
    } else {
      seed_random_from_ticks(rs);
    }
    if (options.model_file.empty()) {
      init_embedded_model(model);
    } else {
      model = std::move(file_model);
    }
    if (options.seed_per_photo) {
      const std::int32_t seed = options.seed.value_or(DEFAULT_PHOTO_SEED);
      scoring.score = [&model, seed, decode](const std::string& photo, RandomState&) {
        return score_photo_seeded(model, photo, seed, decode);
      };
    } else {
      scoring.score = [&model, evidence, decode](const std::string& photo, RandomState& state) {
        return score_contrast_photo(model, photo, state, evidence, decode);
      };
      scoring.steps_per_photo = STEPS_PER_SCORED_FILE;
    }
  }

  ScoreSink sink;
  sink.out = out;
  sink.err = err;
  sink.format = options.format;
  sink.threshold = options.threshold;
  sink.notes = err;
  sink.terminal = platform::is_terminal(out);
  sink.report = report_sink;
  int exit_code = EXIT_DONE;
  if (!many && !choice.directory) {
    write_single_result(sink, choice.path, scoring.score(choice.path, rs));
  } else {
    SkippedNames skipped;
    WalkOptions walk;
    walk.extensions = options.extensions;
    walk.skipped = &skipped;
    walk.notes = err;
    Progress progress_line;
    Progress* progress =
        start_progress(progress_line, out, err, options.quiet) ? &progress_line : nullptr;
    const int jobs = options.jobs > 0 ? options.jobs : platform::online_cores();
    std::int32_t examined_count = 0;
    std::int32_t listed_count = 0;
    const std::vector<std::string> folder{choice.path};
    const EntrySource source =
        many ? named_paths(choice.named, list.in ? &list : nullptr, choice.recurse, walk)
             : named_paths(folder, nullptr, choice.recurse, walk);
    write_folder_header(sink);
    run_entries(source, list.in == nullptr, scoring, jobs, rs, sink, examined_count, listed_count,
                progress, &walk);
    progress_end(progress);
    if (list.read_error != 0) {
      report_problem(out, err, PROGRAM_NAME,
                     "cannot read file list " + platform::shown_on(err, options.files_from) + ": " +
                         std::strerror(list.read_error));
      exit_code = EXIT_BAD_OPTION;
    } else if (!sink_broken(sink)) {
      write_folder_summary(sink, listed_count, examined_count);
    }
    if (list.empty_records > 0) {
      report_problem(out, err, PROGRAM_NAME,
                     "file list " + platform::shown_on(err, options.files_from) + ": " +
                         std::to_string(list.empty_records) + " empty " +
                         (list.empty_records == 1 ? "entry" : "entries") + " passed over");
    }
    if (skipped.count > 0 && options.format == OutputFormat::text && !options.quiet &&
        platform::is_terminal(err)) {
      report_problem(out, err, PROGRAM_NAME, skipped_names_hint(skipped, options.extensions));
    }
  }
  if (!sharpness) release_svm_model(model);
  return finish_run(report_sink, out, err, sink.write_errno, exit_code);
}

}  // namespace lumvet
