// The user's special folders (the XDG user folders) and the default album base.
#pragma once

#include <string>

constexpr int CSIDL_PERSONAL = 5;     // documents
constexpr int CSIDL_MYPICTURES = 39;  // pictures

// The folder's path, or "" when there is none: an unknown id, no folder configured, or the
// folder set to the home folder itself (how a disabled user folder is written).
std::string GetSpecialFolderPath(int Csidl);

// The pictures folder itself; else documents + "/" + the albums folder name; else the home
// folder + "/" + the albums folder name (never the program's folder, never the home folder).
std::string DefaultAlbumBase();
