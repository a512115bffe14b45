#pragma once

#include <cstdint>
#include <string>

namespace sorvanto::bench {

// The table the benchmarks read:
//   KEY_WORDS (KEYWORD_NO INTEGER NOT NULL PRIMARY KEY, ID INTEGER, KEY_WORD VARCHAR(100),
//              USER_NAME VARCHAR(31), TS TIMESTAMP)
inline constexpr const char* kKeywordTable = "KEY_WORDS";

// Makes sure the database exists with the keyword table holding exactly `rows` rows numbered
// 1..rows: creates the database and the table when missing, inserts the missing rows and
// removes rows numbered above `rows`. Reports what it does on stderr.
void PrepareKeywordTable(const std::string& database, std::int64_t rows);

} // namespace sorvanto::bench
