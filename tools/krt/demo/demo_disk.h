// The demo recorder disk (`krt mkdemo`): the day of krt_testing/demo_disk.h with real pictures.
//
// make_demo_disk encodes every recording of the day (recording_encoder.h) and has the image
// builder lay them out. A recording whose pictures repeat another's (the quarter hour the clock
// was set back over) reuses its bytes; older-lap recordings whose first cluster the current
// lap took are not encoded (nothing can reach them). The encoders run on every processor.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "krt_testing/demo_disk.h"

namespace krtdemo {

struct DemoOptions {
  bool short_recordings = false;  // every recording cut to kDemoShortSeconds (for tests)
  int workers = 0;                // encoders running at once; 0 = one per processor
};

struct DemoResult {
  bool ok = false;
  std::string error;                                    // why not, when !ok
  std::vector<krt_testing::DemoRecording> recordings;  // the day, as laid out
  krt_testing::BuildResult built;                       // where the builder put them
  size_t encoded = 0;      // recordings encoded
  size_t reused = 0;       // recordings that reuse the bytes of one encoded before
  size_t overwritten = 0;  // older-lap recordings the current lap took (not encoded)
};

// Makes the demo disk at `path`. The path must not exist, or be a regular file of this user
// (it is then replaced); anything else is refused before anything is encoded. On failure the
// image may be incomplete.
DemoResult make_demo_disk(const std::string& path, const DemoOptions& options);

}  // namespace krtdemo
