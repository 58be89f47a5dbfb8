// The program mark (a blue rounded square with a white lens and play triangle) as an icon.
#pragma once

#include <QIcon>

namespace vendrel {

// The program mark in every size the resources hold ("icons/vendrel-N.png" of
// ResourceDir()); an empty icon when there are none.
QIcon ProgramIcon();

}  // namespace vendrel
