#include "fuzz/targets.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/lumvet.h"
#include "cli/path_runs.h"
#include "imaging/imaging.h"
#include "nn/assessor.h"
#include "nn/network.h"
#include "nn/network_file.h"
#include "platform/long_options.h"
#include "platform/platform.h"
#include "scoring/file_scoring.h"
#include "scoring/linear_model.h"
#include "scoring/model_file.h"

namespace lumvet::fuzz {

namespace {

// Writes `size` bytes to a file descriptor; false on any failure.
bool write_fd(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The input as a regular file that the readers open by path: one in-memory file
// for the process, rewritten for every input.
const std::string& input_file(const std::uint8_t* data, std::size_t size) {
  static const int fd = ::memfd_create("lumvet-fuzz-input", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  fuzz_check(fd >= 0, "memfd_create");
  fuzz_check(::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0 && write_fd(fd, data, size),
             "writing the input file");
  return path;
}

// A sink for text that nobody reads.
std::FILE* null_sink() {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  fuzz_check(sink != nullptr, "opening /dev/null");
  return sink;
}

// Compares the rows decode_image_rows hands over with a full-frame decode.
class CompareRows : public ImageRowSink {
 public:
  explicit CompareRows(const Bitmap32* expected, KeptFrame* keep = nullptr)
      : expected_(expected), keep_(keep) {}
  KeptFrame* frame_to_keep() override { return keep_; }
  bool begin(std::int32_t width, std::int32_t height) override {
    fuzz_check(expected_ != nullptr && width == expected_->width && height == expected_->height,
               "decode_image_rows: size differs from load_bitmap32");
    storage_.resize(static_cast<std::size_t>(width) * 4 * IMAGE_ROW_BATCH);
    return true;
  }
  std::uint8_t* row_storage(std::int32_t y) override {
    return storage_.data() + expected_->stride() * static_cast<std::size_t>(y % IMAGE_ROW_BATCH);
  }
  void take_rows(std::int32_t first, std::int32_t count, std::uint8_t* const* rows) override {
    fuzz_check(first == next_row_, "decode_image_rows: rows out of order");
    for (std::int32_t i = 0; i < count; ++i) {
      fuzz_check(std::memcmp(rows[i], expected_->row(first + i), expected_->stride()) == 0,
                 "decode_image_rows: pixels differ from load_bitmap32");
    }
    next_row_ = first + count;
  }
  std::int32_t rows_taken() const { return next_row_; }

 private:
  const Bitmap32* expected_;
  KeptFrame* keep_;
  std::vector<std::uint8_t> storage_;
  std::int32_t next_row_ = 0;
};

// A luminance sink that sums up the rows it is handed (FNV-1a), keeping the
// frame when given one.
class HashLuma : public ImageRowSink {
 public:
  explicit HashLuma(KeptFrame* keep) : keep_(keep) {}
  bool begin(std::int32_t width, std::int32_t) override {
    width_ = static_cast<std::size_t>(width);
    storage_.resize(width_ * 4 * IMAGE_ROW_BATCH);
    return true;
  }
  std::uint8_t* row_storage(std::int32_t y) override {
    return storage_.data() + width_ * 4 * static_cast<std::size_t>(y % IMAGE_ROW_BATCH);
  }
  void take_rows(std::int32_t, std::int32_t count, std::uint8_t* const* rows) override {
    for (std::int32_t i = 0; i < count; ++i) {
      for (std::size_t x = 0; x < width_; ++x) hash = (hash ^ rows[i][x]) * 1099511628211u;
    }
  }
  bool wants_luma() const override { return true; }
  KeptFrame* frame_to_keep() override { return keep_; }
  std::uint64_t hash = 14695981039346656037u;

 private:
  KeptFrame* keep_;
  std::size_t width_ = 0;
  std::vector<std::uint8_t> storage_;
};

// What a frame kept by a decode shows: the decoded size, the pixels of the
// full decode where it reproduces them, and a thumbnail inside its box.
void check_kept_frame(const KeptFrame& frame, const Bitmap32& full) {
  if (frame.kind == KeptFrame::Kind::none) return;
  const std::optional<Bitmap32> all = kept_frame_region(frame, 0, 0, full.width, full.height);
  fuzz_check(all && all->width == full.width && all->height == full.height,
             "kept frame: size differs from load_bitmap32");
  if (frame.kind == KeptFrame::Kind::bgrx || frame.components == 1 || frame.libjpeg_upsampling) {
    fuzz_check(std::memcmp(all->pixels.get(), full.pixels.get(), full.byte_size()) == 0,
               "kept frame: pixels differ from load_bitmap32");
  }
  const std::optional<Bitmap32> thumb = kept_frame_thumbnail(frame, 37, 23);
  fuzz_check(thumb && thumb->width <= 37 && thumb->height <= 23,
             "kept frame: thumbnail outside the box");
}

// Every image reader, chosen by the content: a full decode, the row-by-row decode
// (the same outcome and pixels), and a decode shrunk to a small box.
int run_image_readers(const std::uint8_t* data, std::size_t size) {
  start_imaging_library();
  const std::string& path = input_file(data, size);
  const std::optional<Bitmap32> full = load_bitmap32(path);
  if (full) {
    fuzz_check(image_size_allowed(full->width, full->height), "decoded size not allowed");
    for (std::int32_t y = 0; y < full->height; ++y) {
      const std::uint8_t* p = full->row(y);
      for (std::int32_t x = 0; x < full->width; ++x) {
        fuzz_check(p[4 * static_cast<std::size_t>(x) + 3] == 255, "reserved byte is not 255");
      }
    }
  }
  CompareRows rows(full ? &*full : nullptr);
  const bool streamed = decode_image_rows(path, rows);
  fuzz_check(streamed == full.has_value(), "decode_image_rows and load_bitmap32 disagree");
  fuzz_check(!full || rows.rows_taken() == full->height, "decode_image_rows: rows missing");
  // Keeping the frame changes neither the outcome nor the rows, and the frame
  // shows the decoded pixels.
  KeptFrame frame;
  CompareRows kept_rows(full ? &*full : nullptr, &frame);
  fuzz_check(decode_image_rows(path, kept_rows) == full.has_value(),
             "decode_image_rows keeping the frame disagrees");
  if (full) check_kept_frame(frame, *full);
  HashLuma luma(nullptr), kept_luma(&frame);
  const bool luma_ok = decode_image_rows(path, luma);
  fuzz_check(decode_image_rows(path, kept_luma) == luma_ok && luma.hash == kept_luma.hash,
             "luminance rows differ when the frame is kept");
  if (full && luma_ok) check_kept_frame(frame, *full);
  const std::optional<Bitmap32> small = decode_image_file(path, 37, 23);
  fuzz_check(!small || (full && small->width <= 37 && small->height <= 23) ||
                 (full && small->width == full->width && small->height == full->height),
             "decode_image_file: shrunk size outside the box");
  return 0;
}

// The fast scorer against the plain reference path on the same bytes: the same
// status, scores, features and final random state.
int run_fast_scorer(const std::uint8_t* data, std::size_t size) {
  start_imaging_library();
  const std::string& path = input_file(data, size);
  static const SvmModel model = [] {
    SvmModel m;
    init_embedded_model(m);
    return m;
  }();
  for (const std::int32_t seed : {1, 987654321}) {
    RandomState fast_state{seed};
    RandomState reference_state{seed};
    const FileScore fast = score_image_file_checked(model, path, FEATURE_SCALE, fast_state);
    const FileScore reference =
        score_image_file_reference(model, path, FEATURE_SCALE, reference_state);
    fuzz_check(fast.decoded == reference.decoded, "fast and reference status differ");
    fuzz_check(fast.score == reference.score, "fast and reference scores differ");
    fuzz_check(fast_state.value == reference_state.value, "fast and reference draws differ");
  }
  FeatureVector fast_features{};
  FeatureVector reference_features{};
  RandomState fast_state{7};
  RandomState reference_state{7};
  const bool fast = extract_file_features(path, fast_features, fast_state);
  const bool reference = extract_file_features_reference(path, reference_features, reference_state);
  fuzz_check(fast == reference, "fast and reference feature status differ");
  fuzz_check(std::memcmp(fast_features.data(), reference_features.data(),
                         sizeof(double) * fast_features.size()) == 0,
             "fast and reference features differ");
  fuzz_check(fast_state.value == reference_state.value, "fast and reference feature draws differ");
  return 0;
}

// The model-file reader: a model it accepts can score without overflow and is
// written back to the same bytes; a refusal is one line; reading by path agrees.
int run_model_file(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  SvmModel model;
  std::string error;
  const bool decoded = decode_svm_model(bytes, model, error);
  if (decoded) {
    fuzz_check(svm_model_scores_fit(model), "accepted model may overflow");
    fuzz_check(encode_svm_model(model) == bytes, "accepted model does not round-trip");
    static const Bitmap32 picture = [] {
      Bitmap32 b = make_bitmap32(64, 48);
      for (std::size_t i = 0; i < b.byte_size(); ++i) {
        b.pixels[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
      }
      return b;
    }();
    RandomState rs{5};
    score_bitmap(model, picture, FEATURE_SCALE, rs);
  } else {
    fuzz_check(!error.empty() && error.find('\n') == std::string::npos, "refusal not one line");
  }
  SvmModel by_path;
  std::string path_error;
  fuzz_check(load_svm_model_file(input_file(data, size), by_path, path_error) == decoded,
             "reading by path disagrees");
  return 0;
}

// The network-file loader with the assessor's limits, then a forward pass, the
// score, a training step and the statistics.
int run_network_file(const std::uint8_t* data, std::size_t size) {
  const auto accept = [](const NetworkHeader& h) {
    return h.input_count <= NETWORK_MAX_INPUTS && h.hidden_count <= NETWORK_MAX_HIDDEN &&
           h.output_count <= NETWORK_MAX_OUTPUTS;
  };
  std::unique_ptr<NeuralNet> net = net_load(input_file(data, size), null_sink(), accept);
  if (!net) return 0;
  fuzz_check(net->input_count <= NETWORK_MAX_INPUTS && net->hidden_count <= NETWORK_MAX_HIDDEN &&
                 net->output_count >= 1 && net->output_count <= NETWORK_MAX_OUTPUTS,
             "loaded network beyond the limits");
  std::array<double, NET_FEATURE_BUFFER_SIZE> features{};
  for (std::size_t i = 0; i < features.size(); ++i) features[i] = 0.01 * static_cast<double>(i);
  net_set_sample(*net, features.data(), 1);
  net_forward(*net);
  const std::int32_t score = net_output_score(*net);
  fuzz_check(score >= -100 && score <= 100, "network score out of range");
  net_train_step(*net, 0.5, 0.05);
  net_forward(*net);
  net_print_stats(*net, null_sink());
  return 0;
}

// NUL-separated arguments, at most `max_args` of them.
std::vector<std::string> split_arguments(const std::uint8_t* data, std::size_t size,
                                         std::size_t max_args) {
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 0; i < size && args.size() < max_args; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (args.size() < max_args) args.push_back(current);
  return args;
}

bool has_control_character(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// The long-option splitter on arbitrary arguments.
int run_long_options(const std::uint8_t* data, std::size_t size) {
  static constexpr LongOption TABLE[] = {
      {"seed", true}, {"format", true}, {"help", false}, {"m", true}};
  const std::vector<std::string> args = split_arguments(data, size, 64);
  std::size_t taken = 0;
  const auto take = [&taken](std::size_t index, const std::string& value, std::string& error) {
    fuzz_check(index < std::size(TABLE), "option index outside the table");
    if (index == 0 && !parse_int32(value)) {
      error = "invalid value '" + value + "' for --seed";
      return false;
    }
    ++taken;
    return true;
  };
  std::vector<std::string> rest;
  std::string error;
  const bool ok = split_long_options(args, TABLE, "'", take, rest, error);
  if (ok) {
    fuzz_check(error.empty(), "success with an error");
    fuzz_check(args.empty() || rest.size() + taken <= args.size() - 1, "more out than in");
  } else {
    fuzz_check(!error.empty() && !has_control_character(error), "error is not one plain line");
  }
  for (const std::string& arg : args) {
    if (const std::optional<std::int32_t> n = parse_int32(arg)) {
      fuzz_check(parse_int32(std::to_string(*n)) == n, "parse_int32 does not round-trip");
    }
  }
  return 0;
}

// A folder of files for the command line, made once and removed at exit; the
// input's file is written into it under names that need escaping, and a link
// leads back up.
struct ScratchFolder {
  std::string path;
  ScratchFolder() {
    char name[] = "/tmp/lumvet-fuzz-XXXXXX";
    fuzz_check(::mkdtemp(name) != nullptr, "mkdtemp");
    path = name;
    fuzz_check(
        ::mkdir((path + "/d").c_str(), 0700) == 0 && ::mkdir((path + "/.x").c_str(), 0700) == 0,
        "mkdir");
    fuzz_check(::symlink("..", (path + "/d/up").c_str()) == 0, "symlink");
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

const std::string& scratch_folder() {
  static const ScratchFolder folder;
  return folder.path;
}

void write_scratch_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  fuzz_check(fd >= 0 && write_fd(fd, data, size) && ::close(fd) == 0, "writing a scratch file");
}

// Checks that TSV output is the header, then records "score<TAB>status<TAB>path"
// with nothing in the path that breaks a line or a field.
void check_tsv(const std::string& text) {
  std::size_t at = 0;
  bool header = true;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    fuzz_check(end != std::string::npos, "TSV: last line unterminated");
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (header) {
      fuzz_check(line == "score\tstatus\tpath", "TSV: no header");
      header = false;
      continue;
    }
    std::size_t i = line[0] == '-' ? 1 : 0;
    const std::size_t digits = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    fuzz_check(i > digits && i < line.size() && line[i] == '\t', "TSV: no score");
    const std::size_t tab = line.find('\t', i + 1);
    fuzz_check(tab != std::string::npos, "TSV: no status");
    const std::string status = line.substr(i + 1, tab - i - 1);
    fuzz_check(status == "ok" || status == "undecodable" || status == "missing", "TSV: bad status");
    const std::string path = line.substr(tab + 1);
    fuzz_check(!path.empty() && path.find('\t') == std::string::npos &&
                   path.find('\r') == std::string::npos,
               "TSV: path not escaped");
  }
}

// Checks that JSON Lines output is one object per line with the record's fields.
void check_jsonl(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    fuzz_check(end != std::string::npos, "JSONL: last line unterminated");
    const nlohmann::json record = nlohmann::json::parse(text.substr(at, end - at), nullptr, false);
    at = end + 1;
    fuzz_check(record.is_object() && record.contains("path") && record["path"].is_string() &&
                   record.contains("score") && record["score"].is_number_integer() &&
                   record.contains("decoded") && record["decoded"].is_boolean(),
               "JSONL: not a record");
    for (const auto& item : record.items()) {
      fuzz_check(item.key() == "path" || item.key() == "score" || item.key() == "decoded" ||
                     item.key() == "raw" || item.key() == "status" || item.key() == "path_bytes",
                 "JSONL: unknown field");
    }
  }
}

// The whole lumvet command line. The input is the arguments (first byte: format,
// jobs, and whether the paths go into a file list, newline- or NUL-separated;
// then lines, each an argument; names not beginning with '-' are taken inside the
// scratch folder, and no argument may climb out of it or name a file to read or
// write), a NUL, then the bytes of the file that the scratch folder holds under
// several names.
int run_command_line(const std::uint8_t* data, std::size_t size) {
  start_imaging_library();
  const std::uint8_t* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
  const std::size_t text_size = nul != nullptr ? static_cast<std::size_t>(nul - data) : size;
  const std::uint8_t* file = nul != nullptr ? nul + 1 : data + size;
  const std::size_t file_size = size - static_cast<std::size_t>(file - data);
  const std::string& dir = scratch_folder();
  for (const char* name :
       {"/in.jpg", "/d/x.JPG", "/tab\there\nnew\rcr\\.jpg", "/\xff\xfe.jpg", "/.x/hidden.jpg"}) {
    write_scratch_file(dir + name, file, file_size);
  }

  const bool jsonl = text_size > 0 && (data[0] & 1) != 0;
  const bool two_jobs = text_size > 0 && (data[0] & 2) != 0;
  const bool listed = text_size > 0 && (data[0] & 4) != 0;
  const char delimiter = text_size > 0 && (data[0] & 8) != 0 ? '\0' : '\n';
  std::vector<std::string> args = {"lumvet", "--seed=1", two_jobs ? "--jobs=2" : "--jobs=1",
                                   jsonl ? "--format=jsonl" : "--format=tsv"};
  std::string list;
  bool help_or_version = false;
  std::string arg;
  for (std::size_t i = 1; i <= text_size && args.size() < 12; ++i) {
    if (i < text_size && data[i] != '\n') {
      arg += static_cast<char>(data[i]);
      continue;
    }
    if (arg.rfind("--format", 0) == 0 || arg.rfind("--jobs", 0) == 0 ||
        arg.rfind("--files-from", 0) == 0 || arg.rfind("--report", 0) == 0 ||
        arg.find("..") != std::string::npos) {
      arg.clear();
      continue;
    }
    help_or_version = help_or_version || arg == "--help" || arg == "--version";
    if (!arg.empty() && arg[0] == '-') {
      args.push_back(arg);
    } else if (listed) {
      list += dir + "/" + arg + delimiter;
    } else {
      args.push_back(dir + "/" + arg);
    }
    arg.clear();
  }
  if (listed) {
    const std::string list_path = dir + "/list";
    write_scratch_file(list_path, reinterpret_cast<const std::uint8_t*>(list.data()), list.size());
    args.push_back("--files-from=" + list_path);
    if (delimiter == '\0') args.push_back("--null");
  }
  args.push_back(dir);

  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  char* out_text = nullptr;
  char* err_text = nullptr;
  std::size_t out_size = 0;
  std::size_t err_size = 0;
  std::FILE* out = ::open_memstream(&out_text, &out_size);
  std::FILE* err = ::open_memstream(&err_text, &err_size);
  fuzz_check(out != nullptr && err != nullptr, "open_memstream");
  const int code = run_lumvet(static_cast<int>(args.size()), argv.data(), out, err);
  std::fclose(out);
  std::fclose(err);
  const std::string printed(out_text, out_size);
  std::free(out_text);
  std::free(err_text);

  fuzz_check(code == EXIT_DONE || code == EXIT_BAD_OPTION || code == EXIT_USAGE,
             "unexpected exit code");
  if (!help_or_version) {
    if (jsonl) {
      check_jsonl(printed);
    } else {
      check_tsv(printed);
    }
  }
  return 0;
}

// The file-list reader behind --files-from: the input's first byte chooses the
// separator (odd: NUL, else newline), the rest is the list. Every non-empty record
// is handed on once, in order and whole: as itself when it names no folder
// (missing exactly when it cannot be found; a record holding a NUL byte names
// nothing), else as the photos of that folder; every empty record is counted.
// The folder walk does not recurse.
int run_file_list(const std::uint8_t* data, std::size_t size) {
  const char delimiter = size > 0 && (data[0] & 1) != 0 ? '\0' : '\n';
  const std::uint8_t* text = size > 0 ? data + 1 : data;
  const std::size_t text_size = size > 0 ? size - 1 : 0;

  std::vector<std::string> records;
  std::int64_t empty_records = 0;
  std::string current;
  for (std::size_t i = 0; i < text_size; ++i) {
    if (static_cast<char>(text[i]) != delimiter) {
      current += static_cast<char>(text[i]);
    } else if (current.empty()) {
      ++empty_records;
    } else {
      records.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) records.push_back(current);

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(
      std::fopen(input_file(text, text_size).c_str(), "rb"), std::fclose);
  fuzz_check(in != nullptr, "opening the list");
  PathList list;
  list.in = in.get();
  list.delimiter = delimiter;
  struct Visit {
    std::string path;
    bool missing;
  };
  std::vector<Visit> visits;
  const std::vector<std::string> no_paths;
  const WalkOptions walk;
  const bool finished =
      named_paths(no_paths, &list, false, walk)([&](const std::string& path, bool missing, int) {
        visits.push_back({path, missing});
        return true;
      });
  fuzz_check(finished && list.read_error == 0, "the list was not read to its end");
  fuzz_check(list.empty_records == empty_records, "empty records miscounted");

  std::size_t at = 0;
  for (const std::string& record : records) {
    int error = 0;
    const platform::PathKind kind = platform::path_kind(record, error);
    if (kind != platform::PathKind::directory) {
      fuzz_check(at < visits.size() && visits[at].path == record &&
                     visits[at].missing == (kind == platform::PathKind::missing),
                 "a record was not handed on whole, once, in order");
      ++at;
      continue;
    }
    // A folder: the photos a walk of it finds (a later record may name one of
    // them again).
    std::string folder = record;
    std::size_t photos = 0;
    walk_photos(folder, false, walk, [&photos](const std::string&) {
      ++photos;
      return true;
    });
    const std::string prefix = record + "/";
    for (std::size_t i = 0; i < photos; ++i, ++at) {
      fuzz_check(at < visits.size() && visits[at].path.compare(0, prefix.size(), prefix) == 0 &&
                     !visits[at].missing,
                 "a folder's photos were not handed on");
    }
  }
  fuzz_check(at == visits.size(), "an entry that no record named");
  return 0;
}

constexpr FuzzTarget TARGETS[] = {
    {"image_readers", run_image_readers}, {"fast_scorer", run_fast_scorer},
    {"model_file", run_model_file},       {"network_file", run_network_file},
    {"long_options", run_long_options},   {"command_line", run_command_line},
    {"file_list", run_file_list},
};

}  // namespace

std::span<const FuzzTarget> fuzz_targets() { return TARGETS; }

const FuzzTarget* find_fuzz_target(std::string_view name) {
  for (const FuzzTarget& target : TARGETS) {
    if (target.name == name) return &target;
  }
  return nullptr;
}

void fuzz_check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace lumvet::fuzz
