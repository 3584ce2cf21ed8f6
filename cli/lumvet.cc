#include "cli/lumvet.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "build_config.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/parallel_scan.h"
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
    "  --decode-memory=MIB  memory that decoding may take at once, shared by all\n"
    "                   threads (default 1024; 0: no limit); larger images wait\n"
    "  --help           print this text\n"
    "  --version        print the version\n";

// The path that the command line names, found as the argument scan and the path
// resolution below describe.
struct PathChoice {
  bool usable = false;
  bool recurse = false;
  bool directory = false;
  std::string path;
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
  }
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

  // Standard output carries nothing but records in the machine-readable formats.
  std::FILE* notes = options.format == OutputFormat::text ? out : err;
  const PathChoice choice = choose_path(args, notes);
  if (!choice.usable) {
    std::fputs(USAGE_TEXT, notes);
    std::fflush(notes);
    return EXIT_USAGE;
  }

  start_imaging_library();
  set_decode_memory_budget(options.decode_memory);
  if (sharpness) {
    ScoreSink sink;
    sink.out = out;
    sink.format = options.format;
    sink.threshold = options.threshold;
    sink.notes = err;
    sink.terminal = platform::is_terminal(out);
    if (choice.directory) {
      write_folder_header(sink);
      std::int32_t examined_count = 0;
      std::int32_t listed_count = 0;
      std::string folder = choice.path;
      const int jobs = options.jobs > 0 ? options.jobs : platform::online_cores();
      scan_folder_sharpness(folder, sharpness_model, examined_count, listed_count, choice.recurse,
                            sink, jobs);
      if (!sink_broken(sink)) write_folder_summary(sink, listed_count, examined_count);
    } else {
      const SharpnessResult r = assess_sharpness_file(choice.path, sharpness_model);
      write_single_result(sink, choice.path, FileScore{r.score, r.decoded});
    }
    return finish_output(out, err, sink.write_errno, EXIT_DONE);
  }
  RandomState rs;
  if (options.seed) {
    rs.value = *options.seed;
  } else {
    seed_random_from_ticks(rs);
  }
  SvmModel model;
  if (options.model_file.empty()) {
    init_embedded_model(model);
  } else {
    model = std::move(file_model);
  }

  ScoreSink sink;
  sink.out = out;
  sink.format = options.format;
  sink.threshold = options.threshold;
  sink.notes = err;
  sink.terminal = platform::is_terminal(out);
  if (choice.directory) {
    write_folder_header(sink);
    std::int32_t examined_count = 0;
    std::int32_t listed_count = 0;
    std::string folder = choice.path;  // extended and restored by the scan
    const int jobs = options.jobs > 0 ? options.jobs : platform::online_cores();
    scan_folder(folder, model, examined_count, listed_count, choice.recurse, rs, sink, jobs);
    if (!sink_broken(sink)) write_folder_summary(sink, listed_count, examined_count);
  } else {
    const FileScore score = score_image_file_checked(model, choice.path, FEATURE_SCALE, rs);
    write_single_result(sink, choice.path, score);
  }
  release_svm_model(model);
  return finish_output(out, err, sink.write_errno, EXIT_DONE);
}

}  // namespace lumvet
