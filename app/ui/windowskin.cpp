// The skin of the viewer's windows.
#include "windowskin.h"

#include "appdirs.h"
#include "initlanguage.h"

namespace vendrel {

std::string SkinFilePath() { return ResourceDir() + "Skin/theme.ini"; }

std::unique_ptr<skinwin::CSkinInterface> ApplyWindowSkin(QWidget* window) {
  auto skin = std::make_unique<skinwin::CSkinInterface>(window);
  skin->SetSkinFile(SkinFilePath());
  const CInitLanguage* language = CInitLanguage::Instance();
  skin->SkinWin().SetSystemMenuTexts(language->GetString(QStringLiteral("Restore")),
                                     language->GetString(QStringLiteral("Minimize")),
                                     language->GetString(QStringLiteral("Maximize")),
                                     language->GetString(QStringLiteral("Close")));
  skin->ApplySkin(true);
  return skin;
}

}  // namespace vendrel
