#pragma once

#include "Value.h"

#include <cstdint>

namespace sorvanto::fbdrv {

// Firebird's encoded dates and times, decoded without a call into the client library: a date
// counts days from 1858-11-17, a time counts 1/10000 seconds from midnight.

inline TSQLDate DecodeDate(std::int32_t days) {
    // Days from 0000-03-01 in the proleptic Gregorian calendar, split into 400-year eras.
    std::int64_t z = std::int64_t(days) + 678881;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t dayOfEra = z - era * 146097;
    std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153; // March is 0
    int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    return TSQLDate{year, month, day};
}

inline TSQLTime DecodeTime(std::uint32_t fractions) {
    return TSQLTime{
        static_cast<int>(fractions / 36000000u), static_cast<int>(fractions / 600000u % 60u),
        static_cast<int>(fractions / 10000u % 60u), static_cast<int>(fractions % 10000u)};
}

// The day count of a date of the proleptic Gregorian calendar; the date must be valid (see
// InlineEncodable).
inline std::int32_t EncodeDate(const TSQLDate& date) {
    std::int64_t year = date.month <= 2 ? std::int64_t(date.year) - 1 : date.year;
    std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    std::int64_t yearOfEra = year - era * 400;
    std::int64_t shiftedMonth = date.month > 2 ? date.month - 3 : date.month + 9; // March is 0
    std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + date.day - 1;
    std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<std::int32_t>(era * 146097 + dayOfEra - 678881);
}

inline std::uint32_t EncodeTime(const TSQLTime& time) {
    return ((std::uint32_t(time.hour) * 60u + std::uint32_t(time.minute)) * 60u +
            std::uint32_t(time.second)) *
               10000u +
           std::uint32_t(time.fractions);
}

// Whether the inline encoding gives what the client library gives: dates of years 1 to 9999 with
// a day the month has, times within a day. Anything else is left to the client library.
inline bool InlineEncodable(const TSQLDate& date) {
    if (date.year < 1 || date.year > 9999 || date.month < 1 || date.month > 12 || date.day < 1)
        return false;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (date.year % 4 == 0 && date.year % 100 != 0) || date.year % 400 == 0;
    return date.day <= (date.month == 2 && !leap ? 28 : kDays[date.month - 1]);
}
inline bool InlineEncodable(const TSQLTime& time) {
    return time.hour >= 0 && time.hour < 24 && time.minute >= 0 && time.minute < 60 &&
           time.second >= 0 && time.second < 60 && time.fractions >= 0 && time.fractions < 10000;
}

} // namespace sorvanto::fbdrv
