// The update publisher's public keys built into this launcher (TALVORA_UPDATE_PUBLIC_KEYS).
#pragma once

#include <string>
#include <vector>

// PEM texts, one per key; two while a key is being rotated.
using UpdateKeys = std::vector<std::string>;

// Generated at configure time. Empty: this build takes update files without signatures.
const UpdateKeys& BuiltInUpdateKeys();
