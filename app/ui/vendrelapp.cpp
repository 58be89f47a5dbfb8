// CVendrelApp: start-up and orderly end of the viewer.
#include "vendrelapp.h"

#include "appdirs.h"
#include "initlanguage.h"
#include "login.h"
#include "messagebox.h"
#include "vendreldlg.h"

#include "infra/infra.h"
#include "krt/disk.h"
#include "krt/ewf_source.h"
#include "obsidra/obsidra.h"

#include <QDialog>

#include <cstdio>
#include <filesystem>

CVendrelApp::CVendrelApp(std::vector<std::string> images) {
  for (const std::string& image : images) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(image, ec);
    m_images.push_back(ec ? image : absolute.string());
  }
}

CVendrelApp::~CVendrelApp() = default;

bool CVendrelApp::InitInstance() {
  // The grid, the engine and the cipher are linked in: nothing to register.
  infra::CInfra::Instance()->start();
  krt::install_ewf_source();  // E01 sets open like raw and split images
  krt::set_disk_candidates(m_images);

  std::string error;
  const bool configReady = vendrel::EnsureUserConfig(&error);
  obsidra::SetKeyFile(vendrel::ConfigDir() + "obsidra.key");

  CInitLanguage* language = CInitLanguage::Instance();
  language->SetRootPath(vendrel::ResourceDir());
  language->SetConfigFile(vendrel::ConfigFilePath());
  language->LoadLanguage(0);
  language->InstallQtTranslations();

  if (!configReady) {
    std::fprintf(stderr, "vendrel: %s\n", error.c_str());
    vendrel::ShowMessage(nullptr, QStringLiteral("ConfigWriteFail"));
  }
  if (RunLogin() != QDialog::Accepted) return false;
  RunMainDialog();
  return true;
}

void CVendrelApp::ExitInstance() {
  infra::CInfra::Instance()->stop();
  infra::CInfra::DeleteInstance();
  CInitLanguage::DeleteInstance();
}

int CVendrelApp::RunLogin() {
  CLogin login;
  return login.exec();
}

void CVendrelApp::RunMainDialog() {
  CVendrelDlg dialog;
  dialog.exec();
}
