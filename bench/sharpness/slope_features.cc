// Prints the sharpness features of image files, one line per file:
//   path <TAB> decoded <TAB> measurable <TAB> measured/tiles <TAB> f0 ... f6 <TAB> ms
// For studying the features and for timing them; the files are given as
// arguments or, one per line, on standard input.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "imaging/imaging.h"
#include "sharpness/assess.h"

namespace {

void measure(const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  bool decoded = false;
  std::int32_t w = 0, h = 0;
  const lumvet::SharpnessMeasure m = lumvet::measure_sharpness_file(path, decoded, w, h);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s\t%d\t%d\t%d/%d", path.c_str(), decoded ? 1 : 0, m.measurable ? 1 : 0,
              m.measured_tiles, m.tiles);
  for (const double f : m.features) std::printf("\t%.9g", f);
  std::printf("\t%.3f\n", ms);
}

}  // namespace

int main(int argc, char** argv) {
  lumvet::start_imaging_library();
  if (argc > 1) {
    for (int i = 1; i < argc; ++i) measure(argv[i]);
  } else {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty()) measure(line);
    }
  }
  lumvet::stop_imaging_library();
  return 0;
}
