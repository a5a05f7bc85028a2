// PEM: one base64 block between "-----BEGIN label-----" and "-----END label-----" lines.
#pragma once

#include <cstddef>
#include <string>

// Strictly one block with this label (LF or CRLF lines, only blank lines around it), canonical
// base64 inside; `der` gets the decoded bytes. Texts over `maxSize` bytes are refused.
bool DecodePemBlock(const std::string& pem, const std::string& label, std::size_t maxSize,
                    std::string& der);

// The block with 64 characters a line, each line ended by LF, as OpenSSL writes it.
std::string EncodePemBlock(const std::string& label, const std::string& der);
