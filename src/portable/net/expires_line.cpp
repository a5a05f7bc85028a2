#include "portable/net/expires_line.h"

#include <cstddef>

namespace {

bool IsLeap(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(std::int64_t year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = year / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The fields of YYYY-MM-DDTHH:MM:SSZ, not yet checked against the calendar.
struct UtcFields {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

int Number(const std::string& text, std::size_t pos, std::size_t count) {
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

// Digits and separators exactly where the form has them.
bool ReadUtcFields(const std::string& text, UtcFields& fields) {
    static const std::string kForm = "0000-00-00T00:00:00Z";
    if (text.size() != kForm.size())
        return false;
    for (std::size_t i = 0; i < kForm.size(); ++i) {
        const bool fits = kForm[i] == '0' ? text[i] >= '0' && text[i] <= '9' : text[i] == kForm[i];
        if (!fits)
            return false;
    }
    fields = UtcFields{Number(text, 0, 4),  Number(text, 5, 2),  Number(text, 8, 2),
                       Number(text, 11, 2), Number(text, 14, 2), Number(text, 17, 2)};
    return true;
}

bool IsRealUtcTime(const UtcFields& t) {
    return t.year >= 1970 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= DaysInMonth(t.year, t.month) && t.hour <= 23 && t.minute <= 59 &&
           t.second <= 59;
}

void AppendNumber(std::string& out, std::int64_t value, int width) {
    std::string digits = std::to_string(value);
    if (digits.size() < static_cast<std::size_t>(width))
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    out += digits;
}

}  // namespace

bool ParseUtcTimestamp(const std::string& text, std::int64_t& seconds) {
    UtcFields t;
    if (!ReadUtcFields(text, t) || !IsRealUtcTime(t))
        return false;
    seconds =
        DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    return true;
}

std::string FormatUtcTimestamp(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    // Civil date from days since 1970 (the inverse of DaysFromCivil).
    days += 719468;
    const std::int64_t era = days / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    std::string out;
    AppendNumber(out, year, 4);
    out += '-';
    AppendNumber(out, month, 2);
    out += '-';
    AppendNumber(out, day, 2);
    out += 'T';
    AppendNumber(out, rest / 3600, 2);
    out += ':';
    AppendNumber(out, rest / 60 % 60, 2);
    out += ':';
    AppendNumber(out, rest % 60, 2);
    out += 'Z';
    return out;
}

ExpiresLine FindExpiresLine(const std::string& body, std::int64_t& expires) {
    static const std::string kKey = "EXPIRES\t";
    ExpiresLine found = ExpiresLine::None;
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        std::string line;
        for (std::size_t i = start; i < end; ++i) {
            if (body[i] != '\r')
                line.push_back(body[i]);
        }
        start = end + 1;
        if (line.compare(0, kKey.size(), kKey) != 0 ||
            line.find('\t', kKey.size()) != std::string::npos) {
            continue;
        }
        if (found != ExpiresLine::None)
            return ExpiresLine::Invalid;
        if (!ParseUtcTimestamp(line.substr(kKey.size()), expires))
            return ExpiresLine::Invalid;
        found = ExpiresLine::Valid;
    }
    return found;
}

bool IsFreshAt(const std::string& body, std::int64_t now) {
    std::int64_t expires = 0;
    switch (FindExpiresLine(body, expires)) {
        case ExpiresLine::None:
            return true;
        case ExpiresLine::Valid:
            return now < expires;
        case ExpiresLine::Invalid:
            break;
    }
    return false;
}
