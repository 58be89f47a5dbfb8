// The skin of the viewer's windows (the login dialog and the main window): the skin file
// "Skin/theme.ini" of the resources, applied with the system menu in the user's language.
#pragma once

#include "skinwin/skininterface.h"

#include <memory>
#include <string>

class QWidget;

namespace vendrel {

// The skin file: ResourceDir() + "Skin/theme.ini".
std::string SkinFilePath();

// Makes the skin interface of window, gives it SkinFilePath() and the texts of the system
// menu ("Restore", "Minimize", "Maximize", "Close" from the language file) and applies it
// with its frame. Returns the interface, skinned or not: the window keeps it as long as it
// lives. When the skin file is missing or unusable the window keeps its normal frame and
// its plain controls (FrameApplied() is false).
std::unique_ptr<skinwin::CSkinInterface> ApplyWindowSkin(QWidget* window);

}  // namespace vendrel
