#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace sorvanto {

struct TSQLDate {
    int year = 0, month = 0, day = 0;
    bool operator==(const TSQLDate&) const = default;
};

// Time of day; fractions are ten-thousandths of a second, as the database keeps them.
struct TSQLTime {
    int hour = 0, minute = 0, second = 0, fractions = 0;
    bool operator==(const TSQLTime&) const = default;
};

struct TSQLTimeStamp {
    TSQLDate date;
    TSQLTime time;
    bool operator==(const TSQLTimeStamp&) const = default;
};

// An exact decimal: value / 10^scale.
struct TBcd {
    std::int64_t value = 0;
    int scale = 0;
    bool operator==(const TBcd&) const = default;
};

// Binary data, kept apart from text so that it reaches the database without a character set.
struct TBytes {
    std::string data;
    bool operator==(const TBytes&) const = default;
};

// One value of a statement parameter or a column: null or one of the database's kinds.
// Text is UTF-8.
using TValue = std::variant<std::monostate, bool, std::int64_t, double, TBcd, std::string, TBytes,
                            TSQLDate, TSQLTime, TSQLTimeStamp>;

// 10 to the power n, for the scales of exact decimals (n from 0 to 18).
constexpr std::int64_t Power10(int n) noexcept {
    std::int64_t p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

inline bool IsNull(const TValue& value) noexcept {
    return std::holds_alternative<std::monostate>(value);
}

} // namespace sorvanto
