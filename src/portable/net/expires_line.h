// Freshness of a signed update file: the two-field line EXPIRES<TAB>YYYY-MM-DDTHH:MM:SSZ (UTC).
// Past that moment a captured old file no longer counts as signed. Launchers that know nothing of
// it ignore the line like any other unknown two-field key.
#pragma once

#include <cstdint>
#include <string>

// Seconds since 1970-01-01T00:00:00Z of exactly "YYYY-MM-DDTHH:MM:SSZ" (years 1970 to 9999, a
// real calendar day, hours 00-23, minutes and seconds 00-59); false for anything else.
bool ParseUtcTimestamp(const std::string& text, std::int64_t& seconds);

// The same form back, for seconds from 1970 to the end of 9999.
std::string FormatUtcTimestamp(std::int64_t seconds);

enum class ExpiresLine { None, Valid, Invalid };

// Looks for lines that, with every CR removed, read "EXPIRES", TAB, value and hold no further TAB.
// None without such a line; Invalid when there are several or the value is not a timestamp;
// otherwise Valid with `expires` set.
ExpiresLine FindExpiresLine(const std::string& body, std::int64_t& expires);

// Whether a signed body may still be used at `now` (seconds since 1970): no EXPIRES line, or
// one that lies after `now`. An unreadable or repeated line never passes.
bool IsFreshAt(const std::string& body, std::int64_t now);
