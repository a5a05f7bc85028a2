// Identifiers of the resources in Talvora.exe, shared by res/talvora.rc and the code that loads
// them. Plain macros: the resource compiler reads this file too.
#pragma once

// RCDATA: the JPEG pictures.
#define TALVORA_BACKGROUND_PICTURE 101
#define TALVORA_BADGE_PICTURE 102

// The icon group of the window class.
#define TALVORA_ICON 1
