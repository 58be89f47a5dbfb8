// Shared set-up of the login and password change tests: a Config.ini and a cipher key of
// the test's own in a temporary folder, and the messages the dialogs show, recorded instead
// of shown.
#pragma once

#include "messagebox.h"
#include "obsidra/obsidra.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace apptest {

class AccountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_config = m_dir.filePath("conf/Config.ini").toStdString();
    QDir(m_dir.path()).mkpath("conf");
    obsidra::SetKeyFile(m_dir.filePath("conf/obsidra.key").toStdString());
    vendrel::SetMessageHook([this](QWidget*, const QString& key) { m_messages << key; });
  }
  void TearDown() override {
    vendrel::SetMessageHook({});
    obsidra::SetKeyFile("");
  }

  // Config.ini holding text (with "%1" replaced by the enciphered form of password).
  void WriteConfig(const std::string& text, const std::string& password = {}) {
    QString content = QString::fromStdString(text);
    if (content.contains("%1")) content = content.arg(QString::fromStdString(obsidra::Encrypt(password)));
    QFile file(QString::fromStdString(m_config));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content.toUtf8());
  }
  QByteArray ReadConfig() const {
    QFile file(QString::fromStdString(m_config));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  static QLineEdit* Edit(QWidget* dialog, const char* id) { return dialog->findChild<QLineEdit*>(id); }

  QTemporaryDir m_dir;
  std::string m_config;
  QStringList m_messages;
};

}  // namespace apptest
