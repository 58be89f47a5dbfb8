// Recordings for the benchmark programs (see streams.h).
#include "streams.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

namespace benchsupport {

bool RunQuiet(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string MakeScratchFolder(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name + "-XXXXXX";
  return mkdtemp(tmpl.data()) ? tmpl : std::string();
}

void RemoveScratchFolder(const std::string& dir) {
  if (!dir.empty()) RunQuiet({"rm", "-rf", dir});
}

bool MakeRecorderStream(const std::string& path, int seconds, int pattern) {
  // Four different moving pictures.
  static const char* const kSources[] = {
      "testsrc2=size=704x576:rate=25",
      "testsrc=size=704x576:rate=25",
      "gradients=size=704x576:rate=25:speed=0.05",
      "mandelbrot=size=704x576:rate=25",
  };
  const char* source = kSources[static_cast<unsigned>(pattern) % 4];
  return RunQuiet({"ffmpeg", "-nostdin", "-y", "-f", "lavfi", "-i", source, "-f", "lavfi", "-i",
                   "sine=frequency=440:sample_rate=32000", "-t", std::to_string(seconds), "-c:v",
                   "libx264", "-preset", "veryfast", "-b:v", "2M", "-bf", "2", "-g", "50",
                   "-pix_fmt", "yuv420p", "-c:a", "mp2", "-f", "mpeg", path});
}

}  // namespace benchsupport
