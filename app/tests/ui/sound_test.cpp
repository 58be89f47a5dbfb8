// Sound reaches a real audio server: a PulseAudio server of the test's own (a null sink, its
// own runtime folder, so it meets no other server on the machine) receives the samples of the
// one window whose sound is on, recorded from the sink's monitor with parec. Two windows play
// tones of different pitch; sound is turned on in one and then in the other, and off.
// Skipped, saying why, where no server can start.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <lumenpane/videowindow.h>

#include <sys/prctl.h>

#include <csignal>
#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "playbackcommands.h"
#include "playermanager.h"
#include "support.h"

namespace {

using apptest::CMountedFolder;
using apptest::Eventually;

constexpr int kRate = 16000;  // what parec records at (mono, 16 bit)

// A PulseAudio server with one null sink, in a runtime folder of its own.
class PrivatePulse {
 public:
  // Starts the server; Error() says why when it did not start.
  PrivatePulse() {
    if (QStandardPathsFind("pulseaudio").isEmpty() || QStandardPathsFind("parec").isEmpty()) {
      m_error = "pulseaudio or parec is not installed (scripts/setup.sh installs them)";
      return;
    }
    m_socket = m_dir.path() + "/native";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", m_dir.path());
    env.insert("HOME", m_dir.path());
    m_server.setProcessEnvironment(env);
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    // The server ends with the test program, even when the program is killed.
    m_server.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_server.start("pulseaudio",
                   {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                    "--use-pid-file=no", "--system=no", "--disable-shm=yes",
                    "--load=module-native-protocol-unix auth-anonymous=1 socket=" + m_socket,
                    "--load=module-null-sink sink_name=vendrel_test rate=48000 channels=2"});
    if (!m_server.waitForStarted(5000)) {
      m_error = "the PulseAudio server did not start";
      return;
    }
    // Ready once the sink answers.
    for (int i = 0; i < 100 && m_error.empty(); ++i) {
      QProcess probe;
      probe.start("pactl", {"--server=unix:" + m_socket, "list", "short", "sinks"});
      if (probe.waitForFinished(2000) && probe.exitCode() == 0 &&
          probe.readAll().contains("vendrel_test"))
        return;
      if (m_server.state() != QProcess::Running) break;
      QThread::msleep(50);
    }
    m_error = "the PulseAudio server did not come up: " + m_server.readAll().toStdString();
  }
  ~PrivatePulse() {
    if (m_server.state() == QProcess::Running) {
      m_server.terminate();
      if (!m_server.waitForFinished(3000)) m_server.kill();
      m_server.waitForFinished(3000);
    }
  }

  const std::string& Error() const { return m_error; }
  QString Server() const { return "unix:" + m_socket; }

 private:
  static QString QStandardPathsFind(const char* name) {
    QProcess which;
    which.start("sh", {"-c", QString("command -v %1").arg(name)});
    which.waitForFinished(3000);
    return QString::fromUtf8(which.readAllStandardOutput()).trimmed();
  }

  QTemporaryDir m_dir;
  QString m_socket;
  QProcess m_server;
  std::string m_error;
};

// Records what the sink plays, from its monitor, for the whole test: mono 16-bit samples at
// kRate. Sample k was played about k / kRate seconds after the recorder started.
class SinkRecorder {
 public:
  explicit SinkRecorder(const QString& server) {
    m_parec.start("parec", {"--server=" + server, "-d", "vendrel_test.monitor", "--raw",
                            "--format=s16le", "--rate=" + QString::number(kRate),
                            "--channels=1", "--latency-msec=100"});
    m_parec.waitForStarted(3000);
    // The clock starts with the first samples, which were played just before they came.
    for (int i = 0; i < 100 && m_bytes.isEmpty(); ++i) {
      m_parec.waitForReadyRead(50);
      m_bytes += m_parec.readAllStandardOutput();
    }
    m_clock.start();
    m_first = static_cast<double>(m_bytes.size()) / 2 / kRate;
  }
  ~SinkRecorder() {
    m_parec.kill();
    m_parec.waitForFinished(3000);
  }
  // Keeps reading for ms milliseconds (the pipe holds only about two seconds).
  void Pump(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
      m_parec.waitForReadyRead(50);
      m_bytes += m_parec.readAllStandardOutput();
    }
  }
  // Seconds since the recorder started.
  double Now() const { return m_first + m_clock.elapsed() / 1000.0; }
  // The samples recorded between from and to seconds.
  std::vector<int16_t> Between(double from, double to) const {
    const auto total = static_cast<size_t>(m_bytes.size()) / 2;
    const size_t a = std::min(total, static_cast<size_t>(from * kRate));
    const size_t b = std::min(total, static_cast<size_t>(to * kRate));
    std::vector<int16_t> samples(b > a ? b - a : 0);
    if (!samples.empty()) memcpy(samples.data(), m_bytes.constData() + 2 * a, samples.size() * 2);
    return samples;
  }

 private:
  QProcess m_parec;
  QElapsedTimer m_clock;
  QByteArray m_bytes;
  double m_first = 0;  // seconds of sound in the first delivery
};

// Loudness (root mean square) and pitch (from the zero crossings) of a recording. Samples
// that are exactly 0 -- the silence a late sound leaves between its pieces -- do not count for
// the pitch.
struct Tone {
  double rms = 0;
  double hz = 0;
};

Tone Measure(const std::vector<int16_t>& samples) {
  Tone tone;
  if (samples.empty()) return tone;
  double sum = 0;
  int crossings = 0;
  size_t sounding = 0;
  int16_t last = 0;
  for (int16_t s : samples) {
    sum += double(s) * s;
    if (s == 0) continue;
    if (last != 0 && (last < 0) != (s < 0)) ++crossings;
    last = s;
    ++sounding;
  }
  tone.rms = std::sqrt(sum / double(samples.size()));
  if (sounding > 0) tone.hz = crossings / 2.0 / (double(sounding) / kRate);
  return tone;
}

const char* const kNames[] = {"idea0/2010-03-05/001/08.00.00-08.00.20[R][@10][0].h264",
                              "idea0/2010-03-05/002/08.00.00-08.00.20[R][@20][0].h264"};
const int kPitch[] = {440, 1500};

TEST(SoundTest, OnlyTheSoundOnWindowReachesTheAudioServer) {
  PrivatePulse pulse;
  if (!pulse.Error().empty()) GTEST_SKIP() << "no audio server: " << pulse.Error();
  // Qt's audio back end reads these when it first connects, which is below.
  qputenv("PULSE_SERVER", pulse.Server().toUtf8());

  CMountedFolder mnt;
  for (int i = 0; i < 2; ++i) {
    const std::string args = "-f lavfi -i testsrc2=size=176x144:rate=25 -f lavfi -i sine=frequency=" +
                             std::to_string(kPitch[i]) +
                             ":sample_rate=32000 -t 20 -c:v libx264 -preset ultrafast "
                             "-pix_fmt yuv420p -c:a mp2 -b:a 64k -f mpeg";
    mnt.Put(kNames[i], "");  // makes the folders
    if (!apptest::MakeWithFfmpeg(args, mnt.Root() / kNames[i]))
      GTEST_SKIP() << "ffmpeg cannot make the test recordings";
  }

  lumenpane::CVideoWindow video;
  CPlayerManager manager;  // the real engine
  for (int j = 0; j < 2; ++j) manager.CreatePlayer(video.GetWndHandle(j), j);
  CPlaybackCommands commands(&video, &manager, nullptr, nullptr);
  commands.SetLayout(4);
  for (int i = 0; i < 2; ++i) ASSERT_EQ(manager.Open(i, std::string("/mnt/") + kNames[i]), 1);
  ASSERT_TRUE(Eventually([&] { return manager.GetState(0) == 1 && manager.GetState(1) == 1; }));

  // Phases of three seconds: no sound, sound of window 0, of window 1, none again. Each is
  // judged after its first 0.8 s, which carry the previous phase's sound still on its way.
  SinkRecorder recorder(pulse.Server());
  std::vector<double> starts;
  auto phase = [&](const std::function<void()>& change) {
    change();
    starts.push_back(recorder.Now());
    recorder.Pump(3000);
  };
  auto audio = [&](int w) {
    ASSERT_TRUE(video.SetCurWnd(w));
    ASSERT_TRUE(commands.OnCommand(CPlaybackCommands::kCmdAudio));
  };
  phase([] {});
  phase([&] { audio(0); });
  EXPECT_TRUE(commands.IsAudio(0));
  phase([&] {
    audio(0);  // off
    audio(1);  // on
  });
  EXPECT_TRUE(commands.IsAudio(1));
  EXPECT_FALSE(commands.IsAudio(0));
  phase([&] { audio(1); });
  starts.push_back(recorder.Now());
  recorder.Pump(2500);  // the monitor delivers its samples late

  const char* const names[] = {"no window", "window 0", "window 1", "no window again"};
  for (size_t k = 0; k < 4; ++k) {
    const std::vector<int16_t> samples = recorder.Between(starts[k] + 0.8, starts[k + 1]);
    const Tone tone = Measure(samples);
    std::printf("%s: %zu samples, %.0f Hz, loudness %.0f\n", names[k], samples.size(), tone.hz,
                tone.rms);
    SCOPED_TRACE(names[k]);
    ASSERT_GT(samples.size(), size_t{kRate}) << "the monitor delivered too little";
    if (k == 1 || k == 2) {
      EXPECT_GT(tone.rms, 500);
      EXPECT_NEAR(tone.hz, kPitch[k - 1], kPitch[k - 1] * 0.1);
    } else {
      EXPECT_LT(tone.rms, 50);
    }
  }
  commands.OnCommand(CPlaybackCommands::kCmdCloseAllWindow);
}

}  // namespace
