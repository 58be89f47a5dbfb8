// Where the viewer finds its files.
//
// The program folder (the folder of the running executable) holds the read-only resources:
// "Language/", "Skin/" and the default "Config.ini". An installed program keeps them in
// "../share/vendrel/" beside its "bin/" folder instead. The program folder is never written.
//
// "Config.ini" proper -- the login account and the language choice -- belongs to the user:
// "$XDG_CONFIG_HOME/vendrel/Config.ini" (default "~/.config/vendrel/Config.ini"), copied from
// the default next to the executable on first start.
#pragma once

#include <string>

namespace vendrel {

// The folder of the running executable with a trailing '/'; "./" when /proc/self/exe cannot
// be read.
std::string ProgramDir();

// The folder holding "Language/", "Skin/" and the default "Config.ini", with a trailing '/':
// ProgramDir() when it has a "Language" folder, else ProgramDir() + "../share/vendrel/" when
// that has one, else ProgramDir(). The environment variable VENDREL_RESOURCES, when set and
// not empty, names it instead (tests point it at a folder of their own).
std::string ResourceDir();

// The user's configuration folder with a trailing '/': $XDG_CONFIG_HOME/vendrel/ when
// XDG_CONFIG_HOME is set to an absolute path, else $HOME/.config/vendrel/.
std::string ConfigDir();

// ConfigDir() + "Config.ini".
std::string ConfigFilePath();

// Makes sure the user's Config.ini exists: creates ConfigDir() (mode 0700) and copies
// ResourceDir() + "Config.ini" there when the user has none yet; an absent default gives an
// empty file. Returns true when the file exists afterwards; false with a message in *error
// (when error is not null) when the folder or the file cannot be made.
bool EnsureUserConfig(std::string* error);

// Whether this is the first call ever for this user: reads "FirstTimeRun" from the user's
// settings of organisation "TAVO" (missing: 0); when 0, stores 1 and returns 1, otherwise
// returns 0. Also 0 when the settings cannot be written.
int IsFirstTimeRun();

}  // namespace vendrel
