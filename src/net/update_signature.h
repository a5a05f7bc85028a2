// Whether a text file fetched from the patch server may be used: with keys built in, only when
// its detached signature (the file's URL + ".sig") verifies over exactly these bytes with one of
// them and the file has not expired.
#pragma once

#include <string>

#include "net/http_client.h"
#include "net/update_keys.h"

// Always true when `keys` is empty (a build without signatures). Otherwise fetches `url` + ".sig"
// and checks it; a missing, malformed or foreign signature, or an EXPIRES moment already past,
// gives false, as does a fetch that `cancel` stops.
bool IsAuthenticUpdateFile(const HttpSession& session, const std::wstring& url,
                           const std::string& body, const UpdateKeys& keys,
                           const CancelPredicate& cancel = CancelPredicate(), int retries = 0);
