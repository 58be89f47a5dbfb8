// The control bar's pictures and buttons, read from a skin file.
//
// CLoadBmp reads one skin file (a profile file such as "replayer_config.ini" in the "Skin/"
// folder): four "back pictures" -- sheets from which the buttons' normal, mouse-over,
// pressed and disabled pictures are cut -- and the bar's background picture:
//
//   [MainSettings]
//   BackImage_Up, BackImage_Over, BackImage_Down, BackImage_Disable   the four sheets
//   BackImage_Log                                                   the background
//   MainWindow_Size = width, height                                 the bar's first size
//   [MainButtons]
//   <Name>_IsVisible = 1      0 or missing: the button gets no pictures (still placed, clickable)
//   <Name>_Position = left, top, right, bottom   where its pictures lie in the sheets
//   <Name>_TipText = key      language key of its tooltip (empty: none)
//
// Picture names are file names in the skin's folder. Numbers are decimal; blanks around them
// do not count; an empty value gives zeros. A picture that cannot be read shows the text of
// "PlayBack.LoadImageFail" once and no further picture is loaded; the bar still works.
//
// CReplayerBackBmp adds the bar's seven buttons (Play ... Next, ids 5028-5034).
#pragma once

#include <QImage>
#include <QRect>
#include <QSettings>
#include <QSize>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class CxSkinButton;
class QWidget;

class CLoadBmp {
 public:
  using TextLookup = std::function<QString(const char* key)>;
  using MessageBox = std::function<void(const QString& text)>;

  // texts: the language lookup; message: shows a failure text (null: a message box).
  CLoadBmp(TextLookup texts, MessageBox message);
  virtual ~CLoadBmp();

  // Reads the skin file dir + folder + fileName for parent: the four sheets and, with
  // loadBackground, the background picture; resizes parent to MainWindow_Size (when not
  // 0 x 0); then LoadButtons. Returns false when a picture failed to load.
  bool LoadSkin(QWidget* parent, const QString& dir, const QString& folder,
                const QString& fileName, bool loadBackground);

  // Makes `button` a child of the parent with object name `id`, placed at the rectangle of
  // name + "_Position" with its four pictures cut from the sheets when name + "_IsVisible"
  // is not 0 (else an empty rectangle, no pictures), and its tooltip from name + "_TipText".
  void LoadButton(const QString& name, const QString& section, CxSkinButton* button, int id);

  // The background picture (null when not loaded).
  const QImage& Background() const { return m_log; }
  // The full path of the picture named by section/key ("" when the key is empty).
  QString PicturePath(const QString& section, const QString& key) const;

 protected:
  // Makes the buttons; CLoadBmp has none.
  virtual void LoadButtons() {}

  QWidget* m_pParent = nullptr;
  TextLookup m_texts;

 private:
  // Reads the picture named by MainSettings/key; on failure shows the failure text and stops
  // further loads (m_bFailed).
  QImage LoadPicture(const char* key);
  // The string value of section/key ("" when missing), list values joined back with ",".
  QString Value(const QString& section, const QString& key) const;

  MessageBox m_message;
  QString m_strDir;                    // skin folder with a trailing '/'
  std::unique_ptr<QSettings> m_pSkin;  // the skin file
  QImage m_up, m_over, m_down, m_disable, m_log;
  bool m_bFailed = false;
};

class CReplayerBackBmp : public CLoadBmp {
 public:
  // Button indices; the command id of button i is kFirstId + i.
  enum : int { kPlay, kPause, kStop, kSlower, kFast, kFront, kNext, kButtonCount };
  static constexpr int kFirstId = 5028;
  static constexpr const char* kNames[kButtonCount] = {"Play", "Pause", "Stop", "Slower",
                                                       "Fast", "Front", "Next"};

  CReplayerBackBmp(TextLookup texts, MessageBox message);

  // Button i (0-6) once loaded, else null.
  CxSkinButton* Button(int i) const;

 protected:
  void LoadButtons() override;

 private:
  std::array<CxSkinButton*, kButtonCount> m_buttons{};  // children of the parent
};

// Reads up to four comma-separated decimal integers ("12, 0,40,28"); missing or bad parts
// are 0.
std::array<int, 4> ParseInts(const QString& text);
