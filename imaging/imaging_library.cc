// The decoders' process-wide life cycle. libjpeg, libpng, giflib and stb_image keep
// no process state; libtiff's process-wide message handlers are the one thing to
// set up, silenced here so that nothing in the process can make libtiff print.
// (Each TIFF decode also installs quiet handlers of its own.)
#include <cstdlib>

#include <tiffio.h>

#include "imaging/imaging.h"

namespace lumvet {

namespace {

ImagingLibrary library;

}  // namespace

const ImagingLibrary& imaging_library() { return library; }

void start_imaging_library() {
  if (library.state != ImagingState::not_started) return;
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
  library.state = ImagingState::started;
  ++library.start_count;
  std::atexit(stop_imaging_library);
}

void stop_imaging_library() {
  if (library.state != ImagingState::started) return;
  library.state = ImagingState::stopped;
  ++library.stop_count;
}

}  // namespace lumvet
