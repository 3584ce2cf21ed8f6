// Writes the fuzz targets' seed corpora, OUT/<target>/<name>, from the pictures
// the tests make: small JPEG, PNG, GIF, TIFF and BMP files in their usual
// variants, model and network files, and command lines.
// Usage: make_fuzz_corpus OUT
#include <png.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "nn/network.h"
#include "nn/network_file.h"
#include "scoring/linear_model.h"
#include "scoring/model_file.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/image_files.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string out_dir;

void put(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = out_dir + "/" + target;
  ::mkdir(dir.c_str(), 0755);
  testing::write_bytes(dir + "/" + name, bytes);
}

// Writes a file with `write` into a scratch path and returns its bytes.
template <typename Write>
Bytes bytes_of(Write write) {
  const std::string path = out_dir + "/.scratch";
  std::remove(path.c_str());
  write(path);
  Bytes bytes = testing::read_bytes(path);
  std::remove(path.c_str());
  return bytes;
}

std::vector<std::pair<std::string, Bytes>> images() {
  using testing::JpegColor;
  using testing::JpegOptions;
  const Bitmap32 picture = testing::test_picture(48, 40, 3);
  const Bitmap32 small = testing::test_picture(17, 13, 5);
  std::vector<std::pair<std::string, Bytes>> files;
  const auto jpeg = [&](const std::string& name, const Bitmap32& b, const JpegOptions& o) {
    files.emplace_back(name, bytes_of([&](const std::string& p) { testing::write_jpeg(p, b, o); }));
  };
  jpeg("baseline_420.jpg", picture, {90, 2, 2, false, 0, JpegColor::ycc});
  jpeg("baseline_422.jpg", picture, {80, 2, 1, false, 0, JpegColor::ycc});
  jpeg("baseline_444.jpg", small, {95, 1, 1, false, 0, JpegColor::ycc});
  jpeg("restart.jpg", picture, {90, 2, 2, false, 1, JpegColor::ycc});
  jpeg("progressive.jpg", picture, {85, 2, 2, true, 0, JpegColor::ycc});
  jpeg("gray.jpg", small, {90, 1, 1, false, 0, JpegColor::gray});
  jpeg("cmyk.jpg", small, {90, 1, 1, false, 0, JpegColor::cmyk});
  jpeg("ycck.jpg", small, {90, 1, 1, true, 0, JpegColor::ycck});
  files.emplace_back("rgb.png",
                     bytes_of([&](const std::string& p) { testing::write_png(p, picture); }));
  testing::PngImage palette{6, 4, PNG_COLOR_TYPE_PALETTE, 4, true};
  palette.data = {0x01, 0x23, 0x10, 0x32, 0x12, 0x30, 0x21, 0x03, 0x00, 0x11, 0x22, 0x33};
  palette.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9};
  palette.palette_alpha = {128, 255, 0};
  files.emplace_back("palette.png",
                     bytes_of([&](const std::string& p) { testing::write_png(p, palette); }));
  testing::PngImage gray16{3, 2, PNG_COLOR_TYPE_GRAY_ALPHA, 16};
  for (int i = 0; i < 24; ++i) gray16.data.push_back(static_cast<std::uint8_t>(i * 37));
  files.emplace_back("gray16.png",
                     bytes_of([&](const std::string& p) { testing::write_png(p, gray16); }));
  const testing::GifFrame frame{1,  1, 5, 3, true, {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2},
                                {}, 1};
  files.emplace_back(
      "frame.gif", bytes_of([&](const std::string& p) {
        testing::write_gif(p, 7, 5, {1, 2, 3, 40, 50, 60, 200, 100, 0, 9, 9, 9}, {frame});
      }));
  Bytes samples(9 * 7 * 4);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 11);
  files.emplace_back("rgba.tif", bytes_of([&](const std::string& p) {
                       testing::write_tiff(p, 9, 7, 4, samples);
                     }));
  files.emplace_back("rgb.tif", bytes_of([&](const std::string& p) {
                       testing::write_tiff(p, 9, 7, 3,
                                           Bytes(samples.begin(), samples.begin() + 189));
                     }));
  files.emplace_back("bottom_up.bmp", testing::bmp_bytes(small, false));
  files.emplace_back("top_down.bmp", testing::bmp_bytes(small, true));
  // A 4-bit palette BMP: 40-byte header, four entries, two rows of four pixels.
  Bytes bmp = {'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 70, 0, 0, 0, 40, 0, 0, 0, 4,
               0,   0,   0,  2, 0, 0, 0, 1, 0, 4, 0,  0, 0, 0, 0,  8, 0, 0, 0};
  bmp.resize(54, 0);
  for (std::uint8_t grey : {0, 80, 160, 240}) bmp.insert(bmp.end(), {grey, grey, grey, 0});
  bmp.insert(bmp.end(), {0x01, 0x23, 0, 0, 0x32, 0x10, 0, 0});
  files.emplace_back("palette.bmp", bmp);
  return files;
}

Bytes network_bytes(std::int32_t inputs, std::int32_t hidden, std::int32_t outputs) {
  RandomState rs{42};
  const auto net = net_create(inputs, hidden, outputs, 0.3, rs);
  return bytes_of([&](const std::string& p) { net_save(*net, p, stdout); });
}

Bytes command(const std::string& text, const Bytes& file) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  bytes.insert(bytes.end(), file.begin(), file.end());
  return bytes;
}

}  // namespace
}  // namespace lumvet

int main(int argc, char** argv) {
  using namespace lumvet;
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_corpus OUT\n");
    return 2;
  }
  out_dir = argv[1];
  ::mkdir(out_dir.c_str(), 0755);
  const auto files = images();
  for (const auto& [name, bytes] : files) {
    put("image_readers", name, bytes);
    put("fast_scorer", name, bytes);
  }

  SvmModel model;
  init_embedded_model(model);
  put("model_file", "embedded.svm", encode_svm_model(model));
  model.dims = 29;
  put("model_file", "dims29.svm", encode_svm_model(model));

  put("network_file", "30-15-1.nn", network_bytes(30, 15, 1));
  put("network_file", "30-0-1.nn", network_bytes(30, 0, 1));
  put("network_file", "12-3-2.nn", network_bytes(12, 3, 2));

  const auto args = [](std::initializer_list<const char*> list) {
    Bytes bytes;
    for (const char* a : list) {
      bytes.insert(bytes.end(), a, a + std::char_traits<char>::length(a));
      bytes.push_back(0);
    }
    return bytes;
  };
  put("long_options", "mixed", args({"prog", "a", "--seed=7", "-R", "--m", "x=y", "--help", "b"}));
  put("long_options", "double_dash", args({"prog", "--seed", "--help", "--", "--seed=2"}));
  put("long_options", "problems", args({"prog", "--format=", "--help=1", "--bogus", "--seed=x"}));

  using namespace std::string_literals;
  const Bytes& jpeg = files.front().second;
  put("command_line", "tsv_recursive", command("\x00-R\n."s, jpeg));
  put("command_line", "jsonl_file", command("\x01in.jpg"s, jpeg));
  put("command_line", "jsonl_jobs", command("\x03-R\n--threshold=0"s, files[8].second));
  put("command_line", "switches", command("\x02-Rx\n-\n--seed=5\n--model=in.jpg"s, Bytes{}));
  put("command_line", "spaces", command("\x00no\nsuch\nfile"s, files.back().second));
  put("command_line", "file_list", command("\x04in.jpg\nno such\nd\n--all-paths"s, jpeg));
  put("command_line", "null_list", command("\x0d-R\nd\nin.jpg"s, jpeg));

  const auto list = [](const std::string& text) { return Bytes(text.begin(), text.end()); };
  put("file_list", "lines", list("\x00/no/such/file\n\n.\nrelative name\r\n"s));
  put("file_list", "nul", list("\x01/no/such\0\0a\nb\0/\0"s));
  return 0;
}
