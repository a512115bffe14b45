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

} // namespace sorvanto::fbdrv
