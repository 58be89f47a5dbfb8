#include "support.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>

#include <gtest/gtest.h>
#include <infra/infra.h>
#include <vfs/filetable.h>

namespace apptest {

namespace {

std::string PortArgs(int port) { return std::to_string(port); }

// The root the "/mnt" table maps onto; set while a CMountedFolder lives.
std::string g_mountRoot;

FSHandle MappedOpen(const char* path, const char* mode) {
  const std::string local = g_mountRoot + "/" + (path + 5);  // after "/mnt/"
  return DefaultFileOps()->open(local.c_str(), mode);
}

// Every player test process stops the runtime library at its end, so each of its threads is
// joined before the process exits.
class InfraEnvironment : public testing::Environment {
 public:
  void TearDown() override {
    infra::CInfra::Instance()->stop();
    infra::CInfra::DeleteInstance();
  }
};

[[maybe_unused]] testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new InfraEnvironment);

}  // namespace

// ---------------------------------------------------------------------------------------------
// CEngineStandIn
// ---------------------------------------------------------------------------------------------

int CEngineStandIn::Log(const std::string& name, const std::string& args, int result) {
  std::lock_guard lock(m_mutex);
  m_calls.push_back(name + "(" + args + ")");
  return result;
}

std::vector<std::string> CEngineStandIn::Calls() const {
  std::lock_guard lock(m_mutex);
  return m_calls;
}

std::vector<std::string> CEngineStandIn::CallsOf(const std::vector<std::string>& names) const {
  std::vector<std::string> out;
  for (const std::string& call : Calls()) {
    const std::string name = call.substr(0, call.find('('));
    for (const std::string& wanted : names)
      if (name == wanted) out.push_back(call);
  }
  return out;
}

size_t CEngineStandIn::Count(const std::string& name) const { return CallsOf({name}).size(); }

void CEngineStandIn::ClearCalls() {
  std::lock_guard lock(m_mutex);
  m_calls.clear();
}

std::string CEngineStandIn::Taken() const {
  std::lock_guard lock(m_mutex);
  return m_taken;
}

int CEngineStandIn::Prepare() {
  {
    std::lock_guard lock(m_mutex);
    m_playerThread = std::this_thread::get_id();
  }
  return Log("Prepare", "", 1);
}

int CEngineStandIn::OpenStream(int port, const unsigned char* header, unsigned headerLength,
                               unsigned bufferSize) {
  const std::string args = PortArgs(port) + "," + (header ? "header" : "null") + "," +
                           std::to_string(headerLength) + "," + std::to_string(bufferSize);
  return Log("OpenStream", args, openStreamResult);
}

int CEngineStandIn::SetStreamMode(int port, int mode) {
  return Log("SetStreamMode", PortArgs(port) + "," + std::to_string(mode), 1);
}

int CEngineStandIn::Play(int port, TvxFrameSink* window) {
  return Log("Play", PortArgs(port) + "," + (window ? "wnd" : "null"), playResult);
}

int CEngineStandIn::InputData(int port, const unsigned char* data, unsigned length) {
  int refuse = refuseInput.load();
  while (refuse > 0 && !refuseInput.compare_exchange_weak(refuse, refuse - 1)) {
  }
  const bool take = refuse == 0;
  if (take) {
    std::lock_guard lock(m_mutex);
    m_taken.append(reinterpret_cast<const char*>(data), length);
  }
  return Log("InputData", PortArgs(port) + "," + std::to_string(length), take ? 1 : 0);
}

unsigned CEngineStandIn::GetBufferedData(int port) {
  bool playerThread;
  {
    std::lock_guard lock(m_mutex);
    playerThread = m_playerThread == std::this_thread::get_id();
  }
  const unsigned answer = holdDrain && playerThread ? 1u : buffered.load();
  return static_cast<unsigned>(Log("GetBufferedData", PortArgs(port), static_cast<int>(answer)));
}

int CEngineStandIn::GetBufferValue(int port, int which) {
  return Log("GetBufferValue", PortArgs(port) + "," + std::to_string(which), bufferValue);
}

unsigned CEngineStandIn::GetPlayedSeconds(int port) {
  return static_cast<unsigned>(
      Log("GetPlayedSeconds", PortArgs(port), static_cast<int>(playedSeconds.load())));
}

int CEngineStandIn::SetSource(int port, const TvxSource*) {
  return Log("SetSource", PortArgs(port), 0);
}
int CEngineStandIn::Stop(int port) { return Log("Stop", PortArgs(port), 1); }
int CEngineStandIn::Seek(int port, int64_t ms) {
  return Log("Seek", PortArgs(port) + "," + std::to_string(ms), 1);
}
int64_t CEngineStandIn::GetPictureTime(int) { return pictureTime.load(); }
int CEngineStandIn::CloseStream(int port) {
  return Log("CloseStream", PortArgs(port), closeStreamResult);
}
int CEngineStandIn::Pause(int port, int on) {
  return Log("Pause", PortArgs(port) + "," + std::to_string(on), pauseResult);
}
int CEngineStandIn::Faster(int port) { return Log("Faster", PortArgs(port), 1); }
int CEngineStandIn::Slower(int port) { return Log("Slower", PortArgs(port), 1); }
int CEngineStandIn::StepNext(int port) { return Log("StepNext", PortArgs(port), stepResult); }
int CEngineStandIn::StepFront(int port) { return Log("StepFront", PortArgs(port), stepResult); }
int CEngineStandIn::PausedTick(int port) { return Log("PausedTick", PortArgs(port), 1); }
int CEngineStandIn::SoundOn(int port) { return Log("SoundOn", PortArgs(port), soundResult); }
int CEngineStandIn::SoundOff(int port) { return Log("SoundOff", PortArgs(port), soundResult); }

int CEngineStandIn::Snapshot(int port, const char* path) {
  return Log("Snapshot", PortArgs(port) + "," + path, snapshotResult);
}

int CEngineStandIn::GrabPicture(int port, TvxPicture* picture) {
  const int result = Log("GrabPicture", PortArgs(port), grabResult);
  if (result) {
    picture->image = QImage(4, 4, QImage::Format_RGB888);
    picture->image.fill(Qt::gray);
    picture->positionUs = grabPositionUs;
    picture->index = grabIndex;
  }
  return result;
}

int CEngineStandIn::StartRecord(int port, const char* path, int flag) {
  return Log("StartRecord", PortArgs(port) + "," + path + "," + std::to_string(flag),
             startRecordResult);
}

int CEngineStandIn::StopRecord(int port) { return Log("StopRecord", PortArgs(port), 1); }

// ---------------------------------------------------------------------------------------------
// CMountedFolder
// ---------------------------------------------------------------------------------------------

CMountedFolder::CMountedFolder() {
  std::random_device random;
  m_root = std::filesystem::temp_directory_path() /
           ("vendrel-app-" + std::to_string(random()) + "-" + std::to_string(random()));
  std::filesystem::create_directories(m_root);
  g_mountRoot = m_root.string();
  const FileOps* before = FindFileOps("/mnt/");
  if (before != DefaultFileOps()) {
    m_previous = *before;
    RegisterFileOps("/mnt", nullptr);
  }
  FileOps ops = *DefaultFileOps();
  ops.open = MappedOpen;
  EXPECT_TRUE(RegisterFileOps("/mnt", &ops));
}

CMountedFolder::~CMountedFolder() {
  RegisterFileOps("/mnt", nullptr);
  if (m_previous) RegisterFileOps("/mnt", &*m_previous);
  std::error_code ignored;
  std::filesystem::remove_all(m_root, ignored);
}

std::string CMountedFolder::Put(const std::string& rooted, const std::string& content) const {
  const std::filesystem::path local = m_root / rooted;
  std::filesystem::create_directories(local.parent_path());
  std::ofstream(local, std::ios::binary) << content;
  return "/mnt/" + rooted;
}

bool MakeWithFfmpeg(const std::string& args, const std::filesystem::path& file) {
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" +
                              file.string() + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

bool Eventually(const std::function<bool()>& pred) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace apptest
