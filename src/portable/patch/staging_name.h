// The name a download is written under until it has been verified: beside its file, with ".part"
// appended. The launcher refuses a list in which that name is another entry or one of its
// folders; the publisher refuses to publish such a list.
#pragma once

#include <string>

inline std::string StagingPathOf(const std::string& relPath) {
    return relPath + ".part";
}
