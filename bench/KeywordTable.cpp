#include "KeywordTable.h"

#include "BenchSupport.h"

#include <FirebirdDriver.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string_view>

namespace sorvanto::bench {

namespace {

constexpr std::int64_t kRowsPerTransaction = 50000;

TParamList Properties(const std::string& database) {
    return TParamList{"Database=" + database, "User_Name=SYSDBA"};
}

// The first column of a one-row query as a number.
std::int64_t QueryNumber(TDrvConnection& connection, std::string_view sql) {
    auto transaction = connection.BeginTransaction(TDrvIsolation::ReadCommitted);
    auto statement = connection.Prepare(*transaction, sql);
    std::int64_t value = 0;
    {
        auto reader = statement->Open(*transaction, {});
        if (reader->Next() && !reader->IsNull(0))
            value = reader->GetInt64(0);
    }
    statement.reset();
    transaction->Commit();
    return value;
}

void Run(TDrvConnection& connection, std::string_view sql) {
    auto transaction = connection.BeginTransaction(TDrvIsolation::ReadCommitted);
    connection.ExecuteImmediate(*transaction, sql);
    transaction->Commit();
}

// Keywords as people type them: Japanese and ASCII words with a number, 10 to 30 bytes.
constexpr std::array<std::string_view, 12> kStems = {
    "キーワード",   // 15 bytes
    "検索語",       // 9
    "商品名_",      // 10
    "データベース", // 18
    "keyword-",     // 8
    "在庫管理",     // 12
    "customer_",    // 9
    "東京都港区",   // 15
    "order.",       // 6
    "請求書番号",   // 15
    "tag:",         // 4
    "ソフトウェア", // 18
};

constexpr std::array<std::string_view, 6> kUserNames = {"SYSDBA", "TANAKA", "SUZUKI",
                                                        "佐藤",   "yamada", "OPERATOR_01"};

std::string KeywordOf(std::int64_t n) {
    std::string_view stem = kStems[static_cast<std::size_t>(n % kStems.size())];
    std::string number = std::to_string((n * 7919) % 10000019);
    std::string keyword;
    keyword.reserve(stem.size() + number.size() + 8);
    keyword.append(stem);
    // Short stems get a longer number so that every keyword has at least 10 bytes.
    while (keyword.size() + number.size() < 10)
        keyword += '0';
    keyword += number;
    return keyword;
}

TValue UserNameOf(std::int64_t n) {
    if (n % 20 == 7) // about 5 % without a user
        return std::monostate{};
    return std::string(kUserNames[static_cast<std::size_t>((n / 3) % kUserNames.size())]);
}

TValue TimeStampOf(std::int64_t n) {
    if (n % 50 == 11) // 2 % without a time
        return std::monostate{};
    // One row every 37 seconds from 2021-01-01 00:00 on, with sub-second fractions.
    std::int64_t seconds = n * 37;
    std::int64_t day = seconds / 86400;
    std::int64_t second = seconds % 86400;
    // Days to a civil date (days counted from 2021-01-01).
    int year = 2021;
    auto daysOf = [](int y) { return (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) ? 366 : 365; };
    while (day >= daysOf(year))
        day -= daysOf(year++);
    static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    for (;; ++month) {
        int length = kMonthDays[month] + (month == 1 && daysOf(year) == 366 ? 1 : 0);
        if (day < length)
            break;
        day -= length;
    }
    TSQLTimeStamp stamp;
    stamp.date = TSQLDate{year, month + 1, static_cast<int>(day) + 1};
    stamp.time = TSQLTime{static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                          static_cast<int>(second % 60), static_cast<int>((n * 137) % 10000)};
    return stamp;
}

void InsertRows(TDrvConnection& connection, std::int64_t first, std::int64_t last) {
    std::cerr << "seeding " << (last - first + 1) << " rows (" << first << ".." << last << ")...\n";
    Stopwatch watch;
    auto transaction = connection.BeginTransaction(TDrvIsolation::ReadCommitted);
    auto insert = connection.Prepare(*transaction,
                                     "insert into KEY_WORDS (KEYWORD_NO, ID, KEY_WORD, USER_NAME, "
                                     "TS) values (?, ?, ?, ?, ?)");
    std::vector<TValue> params(5);
    std::int64_t inTransaction = 0;
    for (std::int64_t n = first; n <= last; ++n) {
        params[0] = n;
        params[1] = n % 1000;
        params[2] = KeywordOf(n);
        params[3] = UserNameOf(n);
        params[4] = TimeStampOf(n);
        insert->Execute(*transaction, params);
        if (++inTransaction == kRowsPerTransaction && n != last) {
            transaction->Commit();
            transaction = connection.BeginTransaction(TDrvIsolation::ReadCommitted);
            inTransaction = 0;
        }
    }
    transaction->Commit();
    double seconds = watch.Seconds();
    std::fprintf(stderr, "seeded in %.1f s (%.0f rows/s)\n", seconds,
                 static_cast<double>(last - first + 1) / seconds);
}

} // namespace

void PrepareKeywordTable(const std::string& database, std::int64_t rows) {
    std::unique_ptr<TDrvConnection> connection;
    if (!std::filesystem::exists(database)) {
        std::cerr << "creating " << database << "\n";
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(database).parent_path(), ec);
        TParamList properties = Properties(database);
        properties.Add("DatabaseCharSet=UTF8");
        connection = TDrvConnection::CreateDatabase(properties);
    } else {
        connection = TDrvConnection::Connect(Properties(database));
    }

    if (QueryNumber(*connection, "select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = "
                                 "'KEY_WORDS'") == 0) {
        Run(*connection, "create table KEY_WORDS (KEYWORD_NO INTEGER NOT NULL PRIMARY KEY, "
                         "ID INTEGER, KEY_WORD VARCHAR(100), USER_NAME VARCHAR(31), TS TIMESTAMP)");
    }

    std::int64_t count = QueryNumber(*connection, "select count(*) from KEY_WORDS");
    std::int64_t highest = QueryNumber(*connection, "select max(KEYWORD_NO) from KEY_WORDS");
    if (highest > rows) {
        std::cerr << "removing rows numbered above " << rows << "...\n";
        Run(*connection, "delete from KEY_WORDS where KEYWORD_NO > " + std::to_string(rows));
        // A full read collects the deleted versions before anything is measured.
        count = QueryNumber(*connection, "select count(*) from KEY_WORDS");
        highest = QueryNumber(*connection, "select max(KEYWORD_NO) from KEY_WORDS");
    }
    if (count < rows && count == highest) {
        InsertRows(*connection, highest + 1, rows);
    } else if (count < rows) {
        // Gaps in the numbering: fill the table afresh.
        std::cerr << "renumbering the table...\n";
        Run(*connection, "delete from KEY_WORDS");
        QueryNumber(*connection, "select count(*) from KEY_WORDS");
        InsertRows(*connection, 1, rows);
    }
}

} // namespace sorvanto::bench
