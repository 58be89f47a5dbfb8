#include "streams.h"

#include "support.h"

namespace apptest {

std::vector<std::string> MakeSmallRecordings(const CMountedFolder& mnt, int count) {
  static const char* const kColours[] = {"red", "lime", "blue", "white", "yellow", "gray"};
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    const std::string rooted = "idea0/2010-03-05/00" + std::to_string(i % 9 + 1) +
                               "/08.00.00-08.00.02[R][@1][" + std::to_string(i) + "].h264";
    paths.push_back(mnt.Put(rooted, ""));
    const std::string source = std::string("-f lavfi -i color=c=") + kColours[i % 6] +
                               ":size=176x144:rate=25 -t 2 -c:v libx264 -preset ultrafast -g 10 -f h264";
    if (!MakeWithFfmpeg(source, mnt.Root() / rooted)) return {};
  }
  return paths;
}

}  // namespace apptest
