// Where the viewer finds its files: program folder, resources, the user's configuration.
#include "appdirs.h"

#include <QSettings>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace vendrel {
namespace {

namespace fs = std::filesystem;

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool IsDir(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

}  // namespace

std::string ProgramDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec || !exe.has_parent_path()) return "./";
  return WithSlash(exe.parent_path().string());
}

std::string ResourceDir() {
  if (const char* env = std::getenv("VENDREL_RESOURCES"); env && *env) return WithSlash(env);
  const std::string program = ProgramDir();
  if (IsDir(fs::path(program) / "Language")) return program;
  const std::string shared = program + "../share/vendrel/";
  if (IsDir(fs::path(shared) / "Language")) return shared;
  return program;
}

std::string ConfigDir() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
    return WithSlash(xdg) + "vendrel/";
  const char* home = std::getenv("HOME");
  return WithSlash(home && *home ? home : ".") + ".config/vendrel/";
}

std::string ConfigFilePath() { return ConfigDir() + "Config.ini"; }

bool EnsureUserConfig(std::string* error) {
  const auto fail = [error](const std::string& what, const std::error_code& ec) {
    if (error) *error = what + ": " + ec.message();
    return false;
  };
  const fs::path dir = ConfigDir();
  const fs::path file = ConfigFilePath();
  std::error_code ec;
  if (fs::exists(file, ec)) return true;
  if (!fs::create_directories(dir, ec) && ec) return fail(dir.string(), ec);
  fs::permissions(dir, fs::perms::owner_all, ec);  // best effort: the folder may be shared
  const fs::path fallback = fs::path(ResourceDir()) / "Config.ini";
  if (fs::exists(fallback, ec)) {
    if (!fs::copy_file(fallback, file, fs::copy_options::skip_existing, ec) && ec)
      return fail(file.string(), ec);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, ec);
    return true;
  }
  FILE* created = std::fopen(file.c_str(), "a");
  if (!created) return fail(file.string(), std::error_code(errno, std::generic_category()));
  std::fclose(created);
  return true;
}

int IsFirstTimeRun() {
  QSettings settings(QStringLiteral("TAVO"));
  if (!settings.isWritable()) return 0;
  if (settings.value(QStringLiteral("FirstTimeRun"), 0).toInt() != 0) return 0;
  settings.setValue(QStringLiteral("FirstTimeRun"), 1);
  settings.sync();
  return settings.status() == QSettings::NoError ? 1 : 0;
}

}  // namespace vendrel
