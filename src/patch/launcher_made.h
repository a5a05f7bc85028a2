// Whether a file found below the installation is provably one the launcher made. Anyone who may
// create files in the folder can leave one at a name the launcher uses; a rename keeps owner and
// access list, so a file adopted from there would carry its planter's rights into the game.
#pragma once

#include <windows.h>

// True when the open file's owner is the one the launcher's own new files get, and its access list
// grants no right to change, delete or re-own it to anyone else but SYSTEM and Administrators,
// apart from what it inherits from its folder (which every new file there gets alike).
bool IsLauncherMadeFile(HANDLE file);
