// Blurs a binary PPM picture (P6, maxval 255) read from standard input and writes
// the result to standard output: three passes of a horizontal and a vertical box
// filter of the given radius, a close approximation of a Gaussian blur with
// sigma = sqrt(radius * (radius + 1)). Integer arithmetic only, so the output is
// the same on every machine. Used by scripts/make_training_set.sh.
//
// Usage: ppm_blur RADIUS < in.ppm > out.ppm
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool read_token(std::FILE* f, std::string& token) {
  token.clear();
  int c = std::fgetc(f);
  while (c != EOF) {
    if (c == '#') {
      while (c != EOF && c != '\n') c = std::fgetc(f);
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!token.empty()) return true;
    } else {
      token.push_back(static_cast<char>(c));
    }
    c = std::fgetc(f);
  }
  return !token.empty();
}

// One box pass along rows (dx = 1) or columns (dx = 0), edges clamped, rounded.
void box_pass(const std::vector<unsigned char>& in, std::vector<unsigned char>& out, long width,
              long height, int radius, bool along_rows) {
  const long n = 2L * radius + 1;
  for (long y = 0; y < height; ++y) {
    for (long x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        long sum = 0;
        for (long d = -radius; d <= radius; ++d) {
          const long xx = along_rows ? std::clamp(x + d, 0L, width - 1) : x;
          const long yy = along_rows ? y : std::clamp(y + d, 0L, height - 1);
          sum += in[static_cast<std::size_t>((yy * width + xx) * 3 + c)];
        }
        out[static_cast<std::size_t>((y * width + x) * 3 + c)] =
            static_cast<unsigned char>((sum + n / 2) / n);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ppm_blur RADIUS < in.ppm > out.ppm\n");
    return 2;
  }
  const int radius = std::atoi(argv[1]);
  std::string magic, w, h, maxval;
  if (radius < 1 || radius > 50 || !read_token(stdin, magic) || magic != "P6" ||
      !read_token(stdin, w) || !read_token(stdin, h) || !read_token(stdin, maxval) ||
      maxval != "255") {
    std::fprintf(stderr,
                 "ppm_blur: expected a radius of 1 to 50 and a P6 picture with maxval 255\n");
    return 1;
  }
  const long width = std::atol(w.c_str());
  const long height = std::atol(h.c_str());
  if (width <= 0 || height <= 0 || width * height > (1L << 28)) {
    std::fprintf(stderr, "ppm_blur: bad picture size\n");
    return 1;
  }
  std::vector<unsigned char> a(static_cast<std::size_t>(width * height * 3));
  std::vector<unsigned char> b(a.size());
  if (std::fread(a.data(), 1, a.size(), stdin) != a.size()) {
    std::fprintf(stderr, "ppm_blur: picture data cut short\n");
    return 1;
  }
  for (int pass = 0; pass < 3; ++pass) {
    box_pass(a, b, width, height, radius, true);
    box_pass(b, a, width, height, radius, false);
  }
  std::printf("P6\n%ld %ld\n255\n", width, height);
  if (std::fwrite(a.data(), 1, a.size(), stdout) != a.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "ppm_blur: write failed\n");
    return 1;
  }
  return 0;
}
