// Times commands against each other on a machine shared with other work: the
// commands run in turn, REPEATS times each, their output discarded, and for each
// the minimum and the median of the wall time and of the processor time (user +
// system, from wait4, in microseconds) are printed. Processor time is what a
// single-threaded command costs even while other processes compete for the cores.
// The largest peak resident size of the repeats comes last.
//
// Usage: time_runs REPEATS COMMAND [ARGS...] [::: COMMAND [ARGS...]]...
// Output, one line per command in the order given:
//   wall_min_ms wall_median_ms cpu_min_ms cpu_median_ms peak_rss_mb
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Sample {
  double wall_ms = 0.0;
  double cpu_ms = 0.0;
  double peak_mb = 0.0;
};

bool run_once(const std::vector<char*>& argv, Sample& out) {
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 1);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) return false;
  out.wall_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  out.cpu_ms = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  out.peak_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: time_runs REPEATS COMMAND [ARGS...] [::: COMMAND...]\n");
    return 2;
  }
  const int repeats = std::max(1, std::atoi(argv[1]));
  std::vector<std::vector<char*>> commands(1);
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == ":::") {
      commands.emplace_back();
    } else {
      commands.back().push_back(argv[i]);
    }
  }
  for (auto& c : commands) c.push_back(nullptr);
  std::vector<std::vector<Sample>> samples(commands.size());
  for (int r = 0; r < repeats; ++r) {
    for (std::size_t c = 0; c < commands.size(); ++c) {
      Sample s;
      if (!run_once(commands[c], s)) {
        std::fprintf(stderr, "time_runs: %s failed\n", commands[c][0]);
        return 1;
      }
      samples[c].push_back(s);
    }
  }
  for (const auto& list : samples) {
    std::vector<double> wall, cpu;
    double peak = 0.0;
    for (const Sample& s : list) {
      wall.push_back(s.wall_ms);
      cpu.push_back(s.cpu_ms);
      peak = std::max(peak, s.peak_mb);
    }
    std::printf("%.2f %.2f %.2f %.2f %.1f\n", *std::min_element(wall.begin(), wall.end()),
                median(wall), *std::min_element(cpu.begin(), cpu.end()), median(cpu), peak);
  }
  return 0;
}
