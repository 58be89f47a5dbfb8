// Reading the grid's texts from a language file: profile-file rules and the key fallback.
#include "languagetexts.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace lumenpane::test {
namespace {

TEST(LanguageTexts, ReadsTheStringSectionLikeAProfileFile) {
  QTemporaryDir dir;
  QFile file(dir.filePath("x.lang"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("Window=outside any section\r\n"
             "[Other]\nWindow=wrong section\n"
             " [ STRING ] \r\n; Window=a comment\nwindow =  Ventana  \r\nWINDOW=second match\n"
             "Empty=\nLong=" + QByteArray(400, 'x') + "\n=no key\n"
             "[String]\nLate=in a second String section\n");
  file.close();
  LanguageTexts texts;
  ASSERT_TRUE(texts.load(file.fileName()));
  EXPECT_EQ(texts.text("Window"), "Ventana");                 // any case, trimmed, first match
  EXPECT_EQ(texts.text("Long"), QString(299, 'x'));           // cut to 299 characters
  EXPECT_EQ(texts.text("Empty"), "Empty");                    // an empty text falls back to the key
  EXPECT_EQ(texts.text("Late"), "in a second String section");
}

TEST(LanguageTexts, AByteOrderMarkBeforeTheFirstSectionIsSkipped) {
  QTemporaryDir dir;
  QFile file(dir.filePath("y.lang"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("\xEF\xBB\xBF[String]\nWindow=Okno\n");
  file.close();
  LanguageTexts texts;
  ASSERT_TRUE(texts.load(file.fileName()));
  EXPECT_EQ(texts.text("Window"), "Okno");
}

TEST(LanguageTexts, MissingTextsFallBackToTheKey) {
  LanguageTexts texts;
  EXPECT_FALSE(texts.load("/nonexistent/English.lang"));
  EXPECT_EQ(texts.text("Window"), "Window");
  EXPECT_EQ(texts.text("PlayBack.LoadImageFail"), "LoadImageFail");
  EXPECT_EQ(texts.text("a.b.c"), "b.c");
}

}  // namespace
}  // namespace lumenpane::test
