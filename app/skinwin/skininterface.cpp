// The skin of one window: frame first, then the control pass.
#include "skininterface.h"

#include <QWidget>

namespace skinwin {

CSkinInterface::CSkinInterface(QWidget* window) : m_window(window) {}

CSkinInterface::~CSkinInterface() = default;

int CSkinInterface::SetSkinFile(const std::string& path) {
  m_skinFile = path;
  return 1;
}

bool CSkinInterface::ApplySkin(bool withFrame) {
  if (withFrame) {
    if (!m_skin.LoadTheme(m_skinFile) || !m_skin.InstallSkin(m_window)) return false;
    m_frameApplied = true;
  }
  return SkinControls(m_window, &m_controls);
}

}  // namespace skinwin
