#include "cli/progress.h"

#include "platform/platform.h"

namespace lumvet {

namespace {

// "9 s", "3 min 20 s", "2 h 05 min".
std::string duration_text(std::int64_t seconds) {
  char text[48];
  if (seconds < 60) {
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(seconds));
  } else if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%lld min %02lld s", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld h %02lld min", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60));
  }
  return text;
}

void draw(Progress& p, std::int64_t now) {
  std::string line = "\r";
  line += progress_text(p.done, p.found, p.total_known, now - p.start_ms);
  line += "\033[K";
  std::fputs(line.c_str(), p.err);
  std::fflush(p.err);
  p.shown = true;
  p.next_draw_ms = now + PROGRESS_REDRAW_MS;
}

void maybe_draw(Progress* p) {
  if (p == nullptr) return;
  const std::int64_t now = platform::elapsed_ms();
  if (now >= p->next_draw_ms) draw(*p, now);
}

void erase(Progress& p) {
  if (!p.shown) return;
  std::fputs("\r\033[K", p.err);
  std::fflush(p.err);
  p.shown = false;
}

}  // namespace

bool start_progress(Progress& progress, std::FILE* out, std::FILE* err, bool quiet) {
  if (quiet || !platform::is_terminal(err)) return false;
  progress = Progress{};
  progress.err = err;
  progress.clear_for_output = platform::is_terminal(out);
  progress.start_ms = platform::elapsed_ms();
  progress.next_draw_ms = progress.start_ms + PROGRESS_FIRST_DRAW_MS;
  return true;
}

void progress_found(Progress* progress) {
  if (progress == nullptr) return;
  if (!progress->total_known) ++progress->found;
  maybe_draw(progress);
}

void progress_done(Progress* progress) {
  if (progress == nullptr) return;
  ++progress->done;
  maybe_draw(progress);
}

void progress_total_known(Progress* progress) {
  if (progress == nullptr) return;
  progress->total_known = true;
  // Counted before scoring began: the rate counts from now.
  if (progress->done == 0) progress->start_ms = platform::elapsed_ms();
}

void progress_before_output(Progress* progress) {
  if (progress != nullptr && progress->clear_for_output) erase(*progress);
}

void progress_end(Progress* progress) {
  if (progress != nullptr) erase(*progress);
}

std::string progress_text(std::int64_t done, std::int64_t found, bool total_known,
                          std::int64_t elapsed_ms) {
  const double rate =
      elapsed_ms > 0 ? 1000.0 * static_cast<double>(done) / static_cast<double>(elapsed_ms) : 0.0;
  char text[96];
  if (!total_known) {
    std::snprintf(text, sizeof text, "lumvet: %lld done, %lld found, %.1f photos/s",
                  static_cast<long long>(done), static_cast<long long>(found), rate);
    return text;
  }
  std::snprintf(text, sizeof text, "lumvet: %lld/%lld done, %.1f photos/s",
                static_cast<long long>(done), static_cast<long long>(found), rate);
  std::string line = text;
  if (done > 0 && rate > 0.0) {
    const auto left = static_cast<std::int64_t>(static_cast<double>(found - done) / rate + 0.5);
    line += ", about " + duration_text(left) + " left";
  }
  return line;
}

}  // namespace lumvet
