// CSkinInterface: the skin of one window, as its dialog uses it.
//
//   CSkinInterface skin(this);
//   skin.SetSkinFile(ResourceDir() + "Skin/theme.ini");
//   skin.ApplySkin(true);
//
// ApplySkin loads the skin file, paints the window's frame from it (CSkinWin, skinwin.h) and
// then runs the control pass over the window's children (skincontrols.h). When the skin file
// is missing or unusable nothing changes: the window keeps its normal frame and its plain
// controls. The interface must live as long as the skin is wanted: destroying it gives the
// labels and edits back their own painting and stops painting the frame.
#pragma once

#include "skincontrols.h"
#include "skinwin.h"

#include <QPointer>

#include <memory>
#include <string>

class QWidget;

namespace skinwin {

class CSkinInterface {
 public:
  // The interface of window (a top-level window; may be null, then ApplySkin fails).
  explicit CSkinInterface(QWidget* window);
  ~CSkinInterface();
  CSkinInterface(const CSkinInterface&) = delete;
  CSkinInterface& operator=(const CSkinInterface&) = delete;

  // The skin file to use. Returns 1.
  int SetSkinFile(const std::string& path);

  // withFrame: loads the skin file and installs the frame on the window (asking the window to
  // lay out its frame again); when either fails, returns false and does nothing more. Then the
  // control pass over the window's children; returns its result (false for a null window).
  // Without withFrame only the control pass runs.
  bool ApplySkin(bool withFrame);

  // Whether the frame is painted by the skin.
  bool FrameApplied() const { return m_frameApplied; }

  CSkinWin& SkinWin() { return m_skin; }
  const SkinnedControls& Controls() const { return m_controls; }

 private:
  bool m_frameApplied = false;   // the frame is the skin's
  QPointer<QWidget> m_window;    // the skinned window
  std::string m_skinFile;        // path of theme.ini
  CSkinWin m_skin;               // the frame
  SkinnedControls m_controls;    // the skinned labels and edits
};

}  // namespace skinwin
