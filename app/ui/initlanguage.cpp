// CInitLanguage: choosing the language, looking texts up, translating dialogs.
#include "initlanguage.h"

#include "appdirs.h"
#include "lumenpane/videowindow.h"
#include "profile/profile.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTranslator>
#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

constexpr std::size_t kLanguageNameSize = 128;  // "Solution" holds at most 127 bytes
constexpr std::string_view kSuffix = ".lang";

CInitLanguage* g_instance = nullptr;

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

CInitLanguage* CInitLanguage::Instance() {
  if (!g_instance) g_instance = new CInitLanguage;
  return g_instance;
}

void CInitLanguage::DeleteInstance() {
  delete g_instance;
  g_instance = nullptr;
}

CInitLanguage::CInitLanguage() : m_strConfigFile(vendrel::ConfigFilePath()) {}

CInitLanguage::~CInitLanguage() {
  if (m_qtTexts) QCoreApplication::removeTranslator(m_qtTexts.get());
}

QLocale CInitLanguage::Locale() const {
  const QString name = GetString(QStringLiteral("Locale"));
  return name == QLatin1String("Locale") ? QLocale::c() : QLocale(name);
}

int CInitLanguage::InstallQtTranslations() {
  if (m_qtTexts) QCoreApplication::removeTranslator(m_qtTexts.get());
  m_qtTexts = std::make_unique<QTranslator>();
  if (!m_qtTexts->load(Locale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(m_qtTexts.get())) {
    m_qtTexts.reset();
    return 0;
  }
  return 1;
}

int CInitLanguage::SetRootPath(const std::string& root) {
  m_strRootPath = WithSlash(root);
  m_strLanguageDir = m_strRootPath + "Language/";
  return 1;
}

void CInitLanguage::SetConfigFile(const std::string& path) { m_strConfigFile = path; }

int CInitLanguage::LoadLanguage(int id) {
  m_strLanguageName = "English";
  m_nLanguageId = kDefaultLanguageId;
  if (id != 0) {
    FindLanguageById(id, &m_strLanguageName, &m_nLanguageId);
  } else {
    const std::string solution =
        profile::GetString(m_strConfigFile, "themes", "Solution", "", kLanguageNameSize);
    // A name is a file name inside the language folder, never a path to elsewhere.
    if (!solution.empty() && solution.find('/') == std::string::npos) m_strLanguageName = solution;
  }
  m_strLanguageFileName = m_strLanguageName + std::string(kSuffix);
  m_strLanguageFile = m_strLanguageDir + m_strLanguageFileName;
  return 1;
}

int CInitLanguage::FindLanguageById(int id, std::string* name, int* idOut) const {
  *name = "English";
  *idOut = kDefaultLanguageId;
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::directory_iterator it(m_strLanguageDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    if (file.size() > kSuffix.size() && file.ends_with(kSuffix)) files.push_back(file);
  }
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) {
    if (profile::GetInt(m_strLanguageDir + file, "Info", "LanguageID", kDefaultLanguageId) != id) continue;
    *name = file.substr(0, file.find(kSuffix));
    *idOut = id;
    break;
  }
  return 1;
}

std::string CInitLanguage::GetLanguageFilePath() const {
  return m_strLanguageDir + (m_strLanguageFileName.empty() ? "English.lang" : m_strLanguageFileName);
}

QString CInitLanguage::GetString(const QString& key) const {
  const std::string utf8 = key.toStdString();
  std::lock_guard lock(m_mutex);
  if (!m_texts || m_strTextsPath != m_strLanguageFile) {
    m_texts = std::make_unique<profile::Document>(
        m_strLanguageFile.empty() ? profile::Document() : profile::Document::Read(m_strLanguageFile));
    m_strTextsPath = m_strLanguageFile;
  }
  return QString::fromStdString(profile::LanguageText(*m_texts, utf8));
}

void CInitLanguage::Translate(QWidget* window) const {
  if (!window) return;
  if (!window->windowTitle().isEmpty()) window->setWindowTitle(GetString(window->windowTitle()));
  const auto children = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) {
    if (qobject_cast<QLineEdit*>(child) || qobject_cast<QTextEdit*>(child) ||
        qobject_cast<QPlainTextEdit*>(child) || qobject_cast<lumenpane::CVideoWindow*>(child))
      continue;
    if (auto* label = qobject_cast<QLabel*>(child)) {
      label->setText(GetString(label->text()));
    } else if (auto* button = qobject_cast<QAbstractButton*>(child)) {
      button->setText(GetString(button->text()));
    } else if (auto* group = qobject_cast<QGroupBox*>(child)) {
      group->setTitle(GetString(group->title()));
    }
  }
}
