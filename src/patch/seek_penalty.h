// Whether the disk under a folder pays for every seek, as a spinning disk does.
#pragma once

#include <string>

// True only when the volume that holds `path` reports a seek penalty. A volume that does not
// answer (network shares, volumes over several disks, platforms without the query) gives false.
bool VolumeIncursSeekPenalty(const std::wstring& path);
