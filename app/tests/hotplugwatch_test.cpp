// The hot-plug watch: an image folder that appears later and a file in it, and a loop device
// given a file, each noticed without any polling.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "hotplugwatch.h"
#include "krt_testing/scratch.h"
#include "krt_testing/shell.h"

namespace {

namespace fs = std::filesystem;

// Waits (generously: the machine may be loaded) until `count` passes `before`.
bool Noticed(const std::atomic<int>& count, int before) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (count.load() <= before) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST(HotPlugWatch, NoticesAFolderMadeLaterAndAnImageFileInIt) {
  krt_testing::ScratchDir scratch;
  const std::string folder = scratch.path("Disks");  // not there yet
  std::atomic<int> changes{0};
  CHotPlugWatch watch([&] { ++changes; });
  watch.SetFolders({folder});
  ASSERT_TRUE(watch.Notifying());

  int before = changes.load();
  fs::create_directory(folder);
  ASSERT_TRUE(Noticed(changes, before)) << "the folder appeared";
  // The watch now stands on the folder itself: a file made in it is noticed.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // events of the mkdir drained
  before = changes.load();
  std::ofstream(folder + "/disk.img") << "KRT";
  EXPECT_TRUE(Noticed(changes, before)) << "the image file appeared";
}

TEST(HotPlugWatch, NoticesALoopDeviceGivenAFile) {
  krt_testing::ScratchDir scratch;
  const std::string image = scratch.path("loop.img");
  std::ofstream(image).close();
  fs::resize_file(image, 1 << 20);
  std::atomic<int> changes{0};
  CHotPlugWatch watch([&] { ++changes; });
  if (!watch.Notifying()) GTEST_SKIP() << "the kernel's device events are refused here";

  const int before = changes.load();
  bool attached = false;
  std::string device = krt_testing::shell_output("losetup -f --show '" + image + "' 2>/dev/null", &attached);
  while (!device.empty() && device.back() == '\n') device.pop_back();
  if (!attached || device.empty()) GTEST_SKIP() << "losetup is not permitted here";
  const bool noticed = Noticed(changes, before);
  krt_testing::shell_output("losetup -d '" + device + "'");
  EXPECT_TRUE(noticed) << device;
}

}  // namespace
