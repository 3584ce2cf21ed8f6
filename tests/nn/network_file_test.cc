#include "nn/network_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::capture_output;
using testing::read_bytes;
using testing::ScopedTempDir;
using testing::write_bytes;

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

std::uint64_t le64(const std::vector<std::uint8_t>& b, std::size_t offset) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[offset + static_cast<std::size_t>(i)];
  return v;
}

std::vector<std::uint8_t> header(std::int32_t i, std::int32_t h, std::int32_t o) {
  std::vector<std::uint8_t> b;
  for (std::int32_t v : {i, h, o}) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int s = 0; s < 32; s += 8) b.push_back(static_cast<std::uint8_t>(u >> s));
  }
  return b;
}

// The network of the worked example: 1 input, no hidden layer, 1 output, after
// one training step.
NeuralNet worked_example() {
  auto net = net_alloc(1, 0, 1);
  net->input_weights = {-0.9999843472614739, -0.7369244235911634, 0.5448980480452755,
                        -0.0658560342502019};
  net->output_units[1] = 0.615350803699563;
  net->output_deltas[1] = 0.06737480590299341;
  return *net;
}

std::unique_ptr<NeuralNet> load_quietly(const std::string& path, std::string& printed) {
  std::unique_ptr<NeuralNet> net;
  printed = capture_output([&](std::FILE* out) { net = net_load(path, out); });
  return net;
}

TEST(NetworkFile, WorkedExampleFileAndPrint) {
  ScopedTempDir dir;
  const NeuralNet net = worked_example();
  const std::string path = dir.file("example.nn");
  std::int32_t result = 0;
  EXPECT_EQ(capture_output([&](std::FILE* out) { result = net_save(net, path, out); }), "");
  EXPECT_EQ(result, 1);
  const auto b = read_bytes(path);
  ASSERT_EQ(b.size(), 44u);
  const std::vector<std::uint8_t> counts = {1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_TRUE(std::equal(counts.begin(), counts.end(), b.begin()));
  // w[0][0], w[1][0], w[0][1], w[1][1]
  EXPECT_EQ(le64(b, 12), bits(net.input_weights[0]));
  EXPECT_EQ(le64(b, 20), bits(net.input_weights[2]));
  EXPECT_EQ(le64(b, 28), bits(net.input_weights[1]));
  EXPECT_EQ(le64(b, 36), bits(net.input_weights[3]));
  // Little-endian byte by byte: 0.5448980480452755 is 3FE16F7D7E7E1D0F... low byte first.
  EXPECT_EQ(b[27], 0x3F);

  EXPECT_EQ(capture_output([&](std::FILE* out) { net_print(net, 0, out); }),
            "Showing 1x0x1 network \n"
            "input weights:\n"
            "0.544898048045,-0.0658560342502,\n"
            "Wmax=0.544898, min=-0.999984, ave=-0.314467, satur=0%, average delta=0.0673748 "
            "(~zero delta=0%)\n");
  EXPECT_EQ(capture_output([&](std::FILE* out) { net_print(net, 1, out); }).substr(0, 57),
            "Showing 1x0x1 network \ninput weights:\n0.544898,-0.065856,");
}

TEST(NetworkFile, SaveLoadRoundTripIsExact) {
  ScopedTempDir dir;
  RandomState rs{555};
  auto net = net_create(30, 15, 1, 1.0, rs);
  net->input_units[3] = 0.25;
  net->targets[1] = TARGET_HIGH;
  net_train_step(*net, 0.5, 0.9);  // previous changes become non-zero
  const std::string path = dir.file("net.nn");
  ASSERT_EQ(net_save(*net, path, stdout), 1);

  const auto b = read_bytes(path);
  ASSERT_EQ(b.size(), 4236u);
  // Block 1: the 16 weights from the bias unit into hidden units 0 ... 15, then
  // those from input 1. Block 2: pairs (output 0, output 1) per hidden unit.
  for (std::size_t j = 0; j < 16; ++j) {
    EXPECT_EQ(le64(b, 12 + 8 * j), bits(net->input_weights[j * 31]));
    EXPECT_EQ(le64(b, 12 + 8 * (16 + j)), bits(net->input_weights[j * 31 + 1]));
  }
  for (std::size_t k = 0; k < 16; ++k) {
    EXPECT_EQ(le64(b, 3980 + 16 * k), bits(net->hidden_weights[k]));
    EXPECT_EQ(le64(b, 3980 + 16 * k + 8), bits(net->hidden_weights[16 + k]));
  }

  std::string printed;
  auto loaded = load_quietly(path, printed);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(loaded->input_count, 30);
  EXPECT_EQ(loaded->hidden_count, 15);
  EXPECT_EQ(loaded->output_count, 1);
  ASSERT_EQ(loaded->input_weights.size(), net->input_weights.size());
  for (std::size_t i = 0; i < net->input_weights.size(); ++i) {
    EXPECT_EQ(bits(loaded->input_weights[i]), bits(net->input_weights[i]));
  }
  for (std::size_t i = 0; i < net->hidden_weights.size(); ++i) {
    EXPECT_EQ(bits(loaded->hidden_weights[i]), bits(net->hidden_weights[i]));
  }
  for (double v : loaded->input_prev_changes) EXPECT_EQ(bits(v), 0u);
  for (double v : loaded->hidden_prev_changes) EXPECT_EQ(bits(v), 0u);
  // A fresh or loaded network has never computed its units: they read 0.0, which
  // lies below TARGET_LOW, and every delta is 0.
  EXPECT_NE(capture_output([&](std::FILE* out) { net_print_stats(*loaded, out); })
                .find("satur=100%, average delta=0 (~zero delta=100%)\n"),
            std::string::npos);
}

TEST(NetworkFile, NetworkWithoutHiddenLayer) {
  ScopedTempDir dir;
  RandomState rs;
  auto net = net_create(4, 0, 2, 1.0, rs);
  const std::string path = dir.file("flat.nn");
  ASSERT_EQ(net_save(*net, path, stdout), 1);
  const auto b = read_bytes(path);
  EXPECT_EQ(b.size(), 12u + 8u * 5u * 3u);
  EXPECT_EQ(b[4] | b[5] | b[6] | b[7], 0);
  std::string printed;
  auto loaded = load_quietly(path, printed);
  ASSERT_TRUE(loaded);
  for (std::size_t i = 0; i < net->input_weights.size(); ++i) {
    EXPECT_EQ(bits(loaded->input_weights[i]), bits(net->input_weights[i]));
  }
  // hidden_weights is not stored: it reads 0.0 after loading.
  for (double v : loaded->hidden_weights) EXPECT_EQ(bits(v), 0u);
}

TEST(NetworkFile, ZeroScaleKeepsNegativeZeros) {
  ScopedTempDir dir;
  RandomState rs;
  auto net = net_create(1, 0, 1, 0.0, rs);
  const std::string path = dir.file("zero.nn");
  ASSERT_EQ(net_save(*net, path, stdout), 1);
  const auto b = read_bytes(path);
  EXPECT_EQ(le64(b, 12), 0x8000000000000000u);  // w[0][0] = -0
  EXPECT_EQ(le64(b, 20), 0u);                   // w[1][0] = +0
  EXPECT_EQ(le64(b, 36), 0x8000000000000000u);  // w[1][1] = -0
  std::string printed;
  auto loaded = load_quietly(path, printed);
  EXPECT_EQ(bits(loaded->input_weights[0]), 0x8000000000000000u);
  EXPECT_EQ(capture_output([&](std::FILE* out) { net_print(*loaded, 0, out); }),
            "Showing 1x0x1 network \ninput weights:\n0,-0,\n"
            "Wmax=0, min=0, ave=0, satur=100%, average delta=0 (~zero delta=100%)\n");
}

TEST(NetworkFile, StatisticsBoundaries) {
  auto net = net_alloc(2, 15, 1);
  for (double& v : net->input_weights) v = -0.5;
  for (double& v : net->hidden_weights) v = -0.25;
  for (double& v : net->hidden_units) v = 0.5;
  net->output_units[1] = TARGET_HIGH;  // at the bound: not saturated
  net->hidden_units[4] = TARGET_LOW;
  for (double& v : net->hidden_deltas) v = 1.0;
  net->output_deltas[1] = 1.0;
  auto stats = [&] { return capture_output([&](std::FILE* out) { net_print_stats(*net, out); }); };
  // All weights negative: the maximum stays 0. (3 x 16 x -0.5 + 2 x 16 x -0.25) / 80.
  EXPECT_EQ(stats(), "Wmax=0, min=-0.5, ave=-0.4, satur=0%, average delta=1 (~zero delta=0%)\n");

  net->hidden_units[7] = std::nextafter(TARGET_HIGH, 1.0);  // one of 16 saturated
  net->hidden_deltas[2] = 1.5e-8;                           // counts as near zero
  for (double& v : net->input_weights) v = 0.5;
  for (double& v : net->hidden_weights) v = 0.25;
  EXPECT_EQ(stats(),
            "Wmax=0.5, min=0, ave=0.4, satur=6%, average delta=0.9375 (~zero delta=6%)\n");
  net->hidden_deltas[2] = 1.6e-8;
  net->output_units[1] = std::nextafter(TARGET_LOW, 0.0);
  EXPECT_NE(stats().find("satur=12%, average delta=0.9375 (~zero delta=0%)"), std::string::npos);

  // No units at all: no division by zero.
  auto empty = net_alloc(2, 0, 0);
  EXPECT_EQ(capture_output([&](std::FILE* out) { net_print_stats(*empty, out); }),
            "Wmax=0, min=0, ave=0, satur=0%, average delta=0 (~zero delta=0%)\n");
}

TEST(NetworkFile, PrintWithHiddenLayer) {
  auto net = net_alloc(1, 2, 1);
  net->input_weights = {9, 9, 0.1, 0.2, 0.3, 0.4};  // row 0 not printed
  net->hidden_weights = {9, 9, 9, -1, 2.5, 1e-20};
  const std::string text = capture_output([&](std::FILE* out) { net_print(*net, 1, out); });
  EXPECT_EQ(text.substr(0, text.find("Wmax")),
            "Showing 1x2x1 network \ninput weights:\n0.1,0.2,\n0.3,0.4,\n"
            "hidden weights:\n-1,2.5,1e-20,\n");
}

TEST(NetworkFile, LoadRefusesDamagedFiles) {
  ScopedTempDir dir;
  const std::string path = dir.file("bad.nn");
  std::string printed;
  EXPECT_FALSE(load_quietly(dir.file("missing.nn"), printed));
  EXPECT_EQ(printed, "");

  auto expect_refused = [&](const std::vector<std::uint8_t>& bytes, const char* message) {
    write_bytes(path, bytes);
    EXPECT_FALSE(load_quietly(path, printed)) << bytes.size();
    EXPECT_EQ(printed, message) << bytes.size();
  };
  // Cut short: in the header, in block 1, in block 2.
  expect_refused({}, "*** read ERROR!\n");
  expect_refused({1, 0, 0, 0, 0}, "*** read ERROR!\n");
  std::vector<std::uint8_t> b = header(1, 0, 1);
  b.resize(43);
  expect_refused(b, "*** read ERROR!\n");
  b = header(2, 1, 1);
  b.resize(12 + 8 * 6 + 8 * 4 - 1);
  expect_refused(b, "*** read ERROR!\n");
  // Counts that claim far more than the file holds: no huge allocation.
  b = header(2147483647, 2147483647, 2147483647);
  b.resize(100);
  expect_refused(b, "*** read ERROR!\n");
  b = header(100000, 100000, 1);
  expect_refused(b, "*** read ERROR!\n");
  // Impossible headers.
  expect_refused(header(-1, 0, 1), "");
  expect_refused(header(1, -5, 1), "");
  expect_refused(header(1, 0, 0), "");
  expect_refused(header(1, 0, -2147483647 - 1), "");

  // Bytes after the last block are ignored.
  b = header(1, 0, 1);
  for (int i = 0; i < 32; ++i) b.push_back(0);
  b.push_back(0x77);
  write_bytes(path, b);
  auto net = load_quietly(path, printed);
  ASSERT_TRUE(net);
  EXPECT_EQ(printed, "");
  // No inputs is a valid network: each output is the sigmoid of its bias.
  std::vector<std::uint8_t> zero_inputs = header(0, 0, 1);
  zero_inputs.resize(28, 0);
  write_bytes(path, zero_inputs);
  EXPECT_TRUE(load_quietly(path, printed));
}

TEST(NetworkFile, LoadReadsOnlyRegularFilesOfTheAnnouncedSize) {
  ScopedTempDir dir;
  std::string printed;
  // A FIFO without a writer would block a plain open; a folder is no file.
  const std::string fifo = dir.file("pipe.nn");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(load_quietly(fifo, printed));
  EXPECT_EQ(printed, "");
  EXPECT_FALSE(load_quietly(dir.path(), printed));
  // A sparse file whose apparent size matches a huge header is read only once
  // the header and the size agree; one byte short is refused before reading.
  const std::string sparse = dir.file("sparse.nn");
  std::vector<std::uint8_t> b = header(30, 1000000, 1);
  write_bytes(sparse, b);
  const std::uint64_t full = 12 + 8 * (31ull * 1000001 + 1000001ull * 2);
  ASSERT_EQ(::truncate(sparse.c_str(), static_cast<off_t>(full - 1)), 0);
  EXPECT_FALSE(load_quietly(sparse, printed));
  EXPECT_EQ(printed, "*** read ERROR!\n");
}

TEST(NetworkFile, SaveReplacesOnlyAfterAFullWrite) {
  ScopedTempDir dir;
  const NeuralNet net = worked_example();
  std::string printed;
  std::int32_t result = -1;

  // A file that cannot be created: 0, nothing printed.
  printed = capture_output(
      [&](std::FILE* out) { result = net_save(net, dir.file("no/such/dir.nn"), out); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(printed, "");

  // New files get 0600; an existing file keeps its permission bits.
  const mode_t old_mask = ::umask(022);
  const std::string path = dir.file("net.nn");
  ASSERT_EQ(net_save(net, path, stdout), 1);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ::chmod(path.c_str(), 0640);
  ASSERT_EQ(net_save(net, path, stdout), 1);
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ::umask(old_mask);

  // A write that fails part-way leaves the earlier file whole and no temporary
  // file behind. Files may grow to 20 bytes only while saving.
  const std::vector<std::uint8_t> earlier = {'o', 'l', 'd'};
  write_bytes(path, earlier);
  void (*old_handler)(int) = ::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  ::getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit small = old_limit;
  small.rlim_cur = 20;
  ::setrlimit(RLIMIT_FSIZE, &small);
  printed = capture_output([&](std::FILE* out) { result = net_save(net, path, out); });
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(result, 0);  // a failed write is reported as a failure
  EXPECT_EQ(printed, "*** write ERROR!\n");
  EXPECT_EQ(read_bytes(path), earlier);
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(e.path().filename(), "net.nn");
    ++entries;
  }
  EXPECT_EQ(entries, 1);

  // A symbolic link is followed: the file it names is replaced.
  const std::string link = dir.file("link.nn");
  ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
  ASSERT_EQ(net_save(net, link, stdout), 1);
  EXPECT_EQ(read_bytes(path).size(), 44u);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
}

TEST(NetworkFile, SaveToAFullDevice) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no writable /dev/full";
  const NeuralNet net = worked_example();
  std::int32_t result = 0;
  EXPECT_EQ(capture_output([&](std::FILE* out) { result = net_save(net, "/dev/full", out); }),
            "*** write ERROR!\n");
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace lumvet
