#include "nn/network_file.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "platform/coding.h"
#include "platform/platform.h"

namespace lumvet {

namespace {

constexpr std::size_t HEADER_SIZE = 12;
constexpr unsigned NEW_FILE_MODE = 0600;

std::uint64_t count_plus_one(std::int32_t n) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(n) + 1);
}

// Appends an (upper + 1) x (lower + 1) row-major matrix transposed: lower unit
// outer, upper unit inner.
void put_block(std::vector<std::uint8_t>& bytes, const std::vector<double>& w, std::int32_t lower,
               std::int32_t upper) {
  const std::size_t stride = count_plus_one(lower);
  for (std::size_t k = 0; k < stride; ++k) {
    for (std::size_t j = 0; j < count_plus_one(upper); ++j) put_double(bytes, w[j * stride + k]);
  }
}

// The inverse of put_block, reading from p.
void get_block(const std::uint8_t* p, std::vector<double>& w, std::int32_t lower,
               std::int32_t upper) {
  const std::size_t stride = count_plus_one(lower);
  for (std::size_t k = 0; k < stride; ++k) {
    for (std::size_t j = 0; j < count_plus_one(upper); ++j, p += 8) {
      w[j * stride + k] = decode_double(p);
    }
  }
}

// Weight statistics over one matrix, in storage order.
void scan_weights(const std::vector<double>& w, std::size_t n, double& wmax, double& wmin,
                  double& sum) {
  for (std::size_t i = 0; i < n; ++i) {
    const double v = w[i];
    if (v > wmax) {
      wmax = v;
    } else if (v < wmin) {
      wmin = v;
    }
    sum = sum + v;
  }
}

std::int64_t count_saturated(const std::vector<double>& units, std::int32_t n) {
  std::int64_t satur = 0;
  for (std::int32_t j = 1; j <= n; ++j) {
    const double o = units[static_cast<std::size_t>(j)];
    if (o > TARGET_HIGH || o < TARGET_LOW) ++satur;
  }
  return satur;
}

void scan_deltas(const std::vector<double>& deltas, std::int32_t n, double& dsum,
                 std::int64_t& nearzero) {
  for (std::int32_t j = 1; j <= n; ++j) {
    const double a = std::fabs(deltas[static_cast<std::size_t>(j)]);
    dsum = dsum + a;
    if (!(a > NEAR_ZERO_DELTA)) ++nearzero;
  }
}

}  // namespace

std::int32_t net_save(const NeuralNet& net, const std::string& path, std::FILE* out) {
  const std::int32_t first = first_layer_count(net);
  std::vector<std::uint8_t> bytes;
  put_fixed32(bytes, static_cast<std::uint32_t>(net.input_count));
  put_fixed32(bytes, static_cast<std::uint32_t>(net.hidden_count));
  put_fixed32(bytes, static_cast<std::uint32_t>(net.output_count));
  put_block(bytes, net.input_weights, net.input_count, first);
  if (net.hidden_count != 0) {
    put_block(bytes, net.hidden_weights, net.hidden_count, net.output_count);
  }

  switch (platform::replace_file(path, bytes, NEW_FILE_MODE)) {
    case platform::ReplaceStatus::not_opened:
      return 0;
    case platform::ReplaceStatus::write_failed:
      // A network that did not reach the file is a failure, not a success.
      std::fprintf(out, "*** write ERROR!\n");
      return 0;
    case platform::ReplaceStatus::replaced:
      break;
  }
  return 1;
}

std::unique_ptr<NeuralNet> net_load(const std::string& path, std::FILE* out,
                                    const NetworkHeaderCheck& accept) {
  // Only a regular file is read (a FIFO or device could block or never end), and
  // its header is checked against the file's size before anything is allocated.
  std::FILE* f = platform::open_regular_file(path);
  if (f == nullptr) return nullptr;
  std::uint8_t header[HEADER_SIZE];
  const std::uint64_t file_size = platform::file_size(f);
  if (std::fread(header, 1, HEADER_SIZE, f) != HEADER_SIZE) {
    std::fclose(f);
    std::fprintf(out, "*** read ERROR!\n");
    return nullptr;
  }
  const std::int32_t input_count = static_cast<std::int32_t>(decode_fixed32(&header[0]));
  const std::int32_t hidden_count = static_cast<std::int32_t>(decode_fixed32(&header[4]));
  const std::int32_t output_count = static_cast<std::int32_t>(decode_fixed32(&header[8]));
  if (input_count < 0 || hidden_count < 0 || output_count < 1) {
    std::fclose(f);
    return nullptr;
  }
  const std::int32_t first = hidden_count != 0 ? hidden_count : output_count;

  // Each block holds at most 2^62 values, so the sum fits.
  const std::uint64_t block1 = count_plus_one(input_count) * count_plus_one(first);
  const std::uint64_t block2 =
      hidden_count != 0 ? count_plus_one(hidden_count) * count_plus_one(output_count) : 0;
  const std::uint64_t values = block1 + block2;
  if (file_size < HEADER_SIZE || (file_size - HEADER_SIZE) / 8 < values) {
    std::fclose(f);
    std::fprintf(out, "*** read ERROR!\n");
    return nullptr;
  }
  if (accept && !accept(NetworkHeader{input_count, hidden_count, output_count})) {
    std::fclose(f);
    return nullptr;
  }
  // The header is judged; what it announces may still be more than there is.
  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(8 * values));
  } catch (const std::bad_alloc&) {
    std::fclose(f);
    return nullptr;
  } catch (const std::length_error&) {
    std::fclose(f);
    return nullptr;
  }
  const bool complete = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
  std::fclose(f);
  if (!complete) {  // the file shrank while it was read
    std::fprintf(out, "*** read ERROR!\n");
    return nullptr;
  }

  auto net = net_alloc(input_count, hidden_count, output_count);
  if (!net) return nullptr;
  const std::uint8_t* p = bytes.data();
  get_block(p, net->input_weights, input_count, first);
  if (hidden_count != 0) {
    get_block(p + 8 * block1, net->hidden_weights, hidden_count, output_count);
  }
  fill_zero(net->input_prev_changes.data(), input_count, first);
  fill_zero(net->hidden_prev_changes.data(), hidden_count, output_count);
  return net;
}

void net_print(const NeuralNet& net, std::int32_t short_format, std::FILE* out) {
  const char* const format = short_format != 0 ? "%g," : "%.12g,";
  std::fprintf(out, "Showing %dx%dx%d network \n", net.input_count, net.hidden_count,
               net.output_count);
  std::fprintf(out, "input weights:\n");
  const std::size_t input_stride = count_plus_one(net.input_count);
  for (std::size_t j = 1; j < count_plus_one(first_layer_count(net)); ++j) {
    for (std::size_t k = 0; k < input_stride; ++k) {
      std::fprintf(out, format, net.input_weights[j * input_stride + k]);
    }
    std::fprintf(out, "\n");
  }
  if (net.hidden_count != 0) {
    std::fprintf(out, "hidden weights:\n");
    const std::size_t hidden_stride = count_plus_one(net.hidden_count);
    for (std::size_t j = 1; j < count_plus_one(net.output_count); ++j) {
      for (std::size_t k = 0; k < hidden_stride; ++k) {
        std::fprintf(out, format, net.hidden_weights[j * hidden_stride + k]);
      }
      std::fprintf(out, "\n");
    }
  }
  std::fflush(out);
  net_print_stats(net, out);
}

void net_print_stats(const NeuralNet& net, std::FILE* out) {
  double wmax = 0.0;
  double wmin = 0.0;
  double sum = 0.0;
  const std::uint64_t input_matrix =
      count_plus_one(net.input_count) * count_plus_one(first_layer_count(net));
  scan_weights(net.input_weights, input_matrix, wmax, wmin, sum);
  std::uint64_t count = input_matrix;
  std::int64_t satur = count_saturated(net.output_units, net.output_count);
  if (net.hidden_count != 0) {
    satur += count_saturated(net.hidden_units, net.hidden_count);
    const std::uint64_t hidden_matrix =
        count_plus_one(net.output_count) * count_plus_one(net.hidden_count);
    scan_weights(net.hidden_weights, hidden_matrix, wmax, wmin, sum);
    count += hidden_matrix;
  }
  const double mean = sum / static_cast<double>(count);

  double dsum = 0.0;
  std::int64_t nearzero = 0;
  scan_deltas(net.output_deltas, net.output_count, dsum, nearzero);
  if (net.hidden_count != 0) scan_deltas(net.hidden_deltas, net.hidden_count, dsum, nearzero);

  // The units examined above; none at all reads as 0 everywhere rather than
  // dividing by zero.
  const std::int64_t units =
      static_cast<std::int64_t>(net.hidden_count) + static_cast<std::int64_t>(net.output_count);
  int satur_percent = 0;
  int nearzero_percent = 0;
  double average_delta = 0.0;
  if (units > 0) {
    satur_percent = static_cast<int>(satur * 100 / units);
    nearzero_percent = static_cast<int>(nearzero * 100 / units);
    average_delta = dsum / static_cast<double>(units);
  }
  std::fprintf(out, "Wmax=%g, min=%g, ave=%g, satur=%d%%, average delta=%g (~zero delta=%d%%)\n",
               wmax, wmin, mean, satur_percent, average_delta, nearzero_percent);
}

}  // namespace lumvet
