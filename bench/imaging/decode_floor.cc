// The decode floor: what libjpeg-turbo alone costs for a set of JPEG files, with
// the settings lumvet decodes them with (accurate integer IDCT, fancy upsampling,
// BGRX output, a progress monitor, eight rows per jpeg_read_scanlines call into a
// rolling buffer whose rows start 16 bytes past a 32-byte boundary, as lumvet's
// do), the rows discarded. Nothing is measured or kept; lumvet's time over the
// same files is compared with this.
//
// Usage: decode_floor [--threads=N] FILE_OR_FOLDER...
//   A folder contributes its *.jpg files (any letter case), sorted, not recursively.
//   N threads take files in turn (default 1). Prints the files decoded, the wall
//   time and milliseconds per file.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

// jpeglib.h needs <cstdio> first.
#include <jpeglib.h>

namespace {

constexpr JDIMENSION ROW_BATCH = 8;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void on_error_exit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}
void on_emit_message(j_common_ptr, int) {}
void on_output_message(j_common_ptr) {}

void on_progress(j_common_ptr) {}

struct Job {
  jpeg_decompress_struct cinfo;
  ErrorManager error;
  jpeg_progress_mgr progress;
  std::FILE* file;
  std::vector<JSAMPLE>* rows;  // rolling buffer, ROW_BATCH rows
};

bool read_rows(Job* job) {
  j_decompress_ptr cinfo = &job->cinfo;
  jpeg_create_decompress(cinfo);
  job->progress.progress_monitor = on_progress;
  cinfo->progress = &job->progress;
  jpeg_stdio_src(cinfo, job->file);
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
  jpeg_start_decompress(cinfo);
  const std::size_t pitch = (std::size_t{cinfo->output_width} * 4 + 31) / 32 * 32;
  if (job->rows->size() < pitch * ROW_BATCH + 48) job->rows->resize(pitch * ROW_BATCH + 48);
  const auto address = reinterpret_cast<std::uintptr_t>(job->rows->data());
  JSAMPLE* first = job->rows->data() + (48 - address % 32) % 32;
  JSAMPROW rows[ROW_BATCH];
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION y = cinfo->output_scanline;
    const JDIMENSION n = std::min(ROW_BATCH, cinfo->output_height - y);
    for (JDIMENSION i = 0; i < n; ++i) rows[i] = first + pitch * ((y + i) % ROW_BATCH);
    if (jpeg_read_scanlines(cinfo, rows, n) == 0) return false;
  }
  return true;
}

bool run(Job* job) {
  volatile bool ok = false;
  if (setjmp(job->error.jump) == 0) ok = read_rows(job);
  return ok;
}

bool decode_file(const std::string& path, std::vector<JSAMPLE>& buffer) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  Job job{};
  job.file = f;
  job.rows = &buffer;
  job.cinfo.err = jpeg_std_error(&job.error.pub);
  job.error.pub.error_exit = on_error_exit;
  job.error.pub.emit_message = on_emit_message;
  job.error.pub.output_message = on_output_message;
  const bool ok = run(&job);
  jpeg_destroy_decompress(&job.cinfo);
  std::fclose(f);
  return ok;
}

bool has_jpg_suffix(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".jpg";
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 1;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--threads=", 0) == 0) {
      threads = std::max(1, std::atoi(arg.c_str() + 10));
      continue;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      std::vector<std::string> found;
      for (const auto& e : std::filesystem::directory_iterator(arg, ec)) {
        if (!e.is_directory() && has_jpg_suffix(e.path().filename().string())) {
          found.push_back(e.path().string());
        }
      }
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: decode_floor [--threads=N] FILE_OR_FOLDER...\n");
    return 2;
  }
  std::atomic<std::size_t> next{0};
  std::atomic<int> failed{0};
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      std::vector<JSAMPLE> buffer;
      for (std::size_t i = next++; i < files.size(); i = next++) {
        if (!decode_file(files[i], buffer)) ++failed;
      }
    });
  }
  for (auto& t : pool) t.join();
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%zu files, %d failed, %d threads: %.1f ms, %.2f ms per file\n", files.size(),
              failed.load(), threads, ms, ms / static_cast<double>(files.size()));
  return failed.load() == 0 ? 0 : 1;
}
