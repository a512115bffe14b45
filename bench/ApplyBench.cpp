#include "ApplyBench.h"

#include "BenchSupport.h"
#include "KeywordTable.h"
#include "OpenBench.h"
#include "PlainFetch.h"

#include <FirebirdHandle.h>
#include <SimpleDataSet.h>

#include <firebird/Interface.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <time.h>

namespace sorvanto::bench {

namespace {

using fbdrv::Handle;
using Firebird::FbException;
using Firebird::ThrowStatusWrapper;

// An even count: each side goes first in half of the rounds.
// An even count, so that each side goes first in as many rounds as the other.
constexpr int kRounds = 6;
constexpr std::int64_t kDefaultChanges = 10000;

// Every run flips this mark at the end of each changed keyword: a run always changes the rows,
// and after an even number of runs they hold their seeded text again.
constexpr char kMark = '#';

// Processor seconds of the whole process (every thread of the embedded engine included) since
// construction: the rest of a wall-clock time is waiting, mostly for the disk.
class CpuStopwatch {
public:
    CpuStopwatch() : start_(Now()) {}
    double Seconds() const { return Now() - start_; }

private:
    static double Now() {
        timespec now{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }
    double start_;
};

// The times of one run.
struct RunTimes {
    double seconds = 0;
    double cpuSeconds = 0;
};

struct ApplyOptions {
    TableOptions table;
    std::int64_t changes = kDefaultChanges;
};

// "--changes M" (or "--changes=M"); the rest goes to ParseTableOptions.
bool ParseApplyOptions(const std::vector<std::string>& args, ApplyOptions& options) {
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--changes" && args[i].rfind("--changes=", 0) != 0) {
            rest.push_back(args[i]);
            continue;
        }
        std::string name, value;
        if (!TakeOption(args, i, name, value) || !ParseCount(name, value, options.changes))
            return false;
    }
    if (!ParseTableOptions(rest, options.table))
        return false;
    if (options.changes > options.table.rows) {
        std::cerr << "--changes cannot exceed --rows (" << options.table.rows << ")\n";
        return false;
    }
    return true;
}

// A row both runs change: its key and the keyword it holds now.
struct TargetRow {
    std::int64_t key = 0;
    std::string keyword;
};

std::string Flipped(const std::string& keyword) {
    if (!keyword.empty() && keyword.back() == kMark)
        return keyword.substr(0, keyword.size() - 1);
    return keyword + kMark;
}

// ---------------------------------------------------------------------------------------------
// The plain side: the client library's own interfaces, nothing of the data layer.

// Where one value of a message sits.
struct Slot {
    unsigned type = 0;
    unsigned length = 0;
    unsigned offset = 0;
    unsigned nullOffset = 0;
};

std::vector<Slot> SlotsOf(Firebird::IMessageMetadata* meta, ThrowStatusWrapper* st,
                          std::initializer_list<unsigned> expected, const char* what) {
    std::vector<Slot> slots(meta->getCount(st));
    bool fits = slots.size() == expected.size();
    for (unsigned i = 0; i < slots.size(); ++i) {
        slots[i].type = meta->getType(st, i) & ~1u;
        slots[i].length = meta->getLength(st, i);
        slots[i].offset = meta->getOffset(st, i);
        slots[i].nullOffset = meta->getNullOffset(st, i);
        fits = fits && slots[i].type == expected.begin()[i];
    }
    if (!fits)
        throw std::runtime_error(std::string("unexpected column types in the ") + what);
    return slots;
}

template <typename T> void Put(unsigned char* buffer, const Slot& slot, const T& value) {
    std::memcpy(buffer + slot.offset, &value, sizeof value);
}

template <typename T> T Get(const unsigned char* buffer, const Slot& slot) {
    T value;
    std::memcpy(&value, buffer + slot.offset, sizeof value);
    return value;
}

void PutText(unsigned char* buffer, const Slot& slot, std::string_view text) {
    if (text.size() > slot.length)
        throw std::runtime_error("a keyword is longer than its column");
    auto length = static_cast<ISC_USHORT>(text.size());
    std::memcpy(buffer + slot.offset, &length, sizeof length);
    std::memcpy(buffer + slot.offset + sizeof length, text.data(), text.size());
}

std::string GetText(const unsigned char* buffer, const Slot& slot) {
    auto length = Get<ISC_USHORT>(buffer, slot);
    return std::string(reinterpret_cast<const char*>(buffer + slot.offset + sizeof length), length);
}

bool IsNullAt(const unsigned char* buffer, const Slot& slot) {
    ISC_SHORT flag;
    std::memcpy(&flag, buffer + slot.nullOffset, sizeof flag);
    return flag != 0;
}

std::string ErrorText(const FbException& error) {
    return fbdrv::StatusText(ClientMaster()->getUtilInterface(), error.getStatus());
}

Handle<Firebird::IAttachment> Attach(Firebird::IMaster* master, ThrowStatusWrapper* st,
                                     const std::string& database) {
    Handle<Firebird::IXpbBuilder> dpb(
        master->getUtilInterface()->getXpbBuilder(st, Firebird::IXpbBuilder::DPB, nullptr, 0));
    dpb->insertTag(st, isc_dpb_utf8_filename);
    dpb->insertString(st, isc_dpb_user_name, "SYSDBA");
    dpb->insertInt(st, isc_dpb_sql_dialect, 3);
    return Handle<Firebird::IAttachment>(master->getDispatcher()->attachDatabase(
        st, database.c_str(), dpb->getBufferLength(st), dpb->getBuffer(st)));
}

// One row's values as the table holds them, in the client library's own formats.
struct PlainRow {
    ISC_LONG id = 0;
    std::string keyword;
    std::string userName;
    ISC_TIMESTAMP stamp{};
    bool hasNull = false;
};

// Reads rows by key through one prepared select.
class RowReader {
public:
    RowReader(Firebird::IAttachment* attachment, Firebird::ITransaction* transaction,
              ThrowStatusWrapper* st)
        : transaction_(transaction), st_(st) {
        statement_.Reset(attachment->prepare(
            st, transaction, 0,
            "select \"ID\", \"KEY_WORD\", \"USER_NAME\", \"TS\" from \"KEY_WORDS\" where "
            "\"KEYWORD_NO\" = ?",
            3, Firebird::IStatement::PREPARE_PREFETCH_METADATA));
        input_.Reset(statement_->getInputMetadata(st));
        output_.Reset(statement_->getOutputMetadata(st));
        key_ = SlotsOf(input_.get(), st, {SQL_LONG}, "key of the select")[0];
        columns_ = SlotsOf(output_.get(), st, {SQL_LONG, SQL_VARYING, SQL_VARYING, SQL_TIMESTAMP},
                           "row of the select");
        inputBuffer_.assign(input_->getMessageLength(st), 0);
        outputBuffer_.assign(output_->getMessageLength(st), 0);
    }
    ~RowReader() {
        statement_.Finish([&](Firebird::IStatement* statement) { statement->free(st_); });
    }
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // False when no row has the key.
    bool Read(std::int64_t key, PlainRow& row) {
        Put(inputBuffer_.data(), key_, static_cast<ISC_LONG>(key));
        Handle<Firebird::IResultSet> cursor;
        cursor.Reset(statement_->openCursor(st_, transaction_, input_.get(), inputBuffer_.data(),
                                            output_.get(), 0));
        bool found = cursor->fetchNext(st_, outputBuffer_.data()) == Firebird::IStatus::RESULT_OK;
        cursor->close(st_);
        cursor.Take();
        if (!found)
            return false;
        const unsigned char* at = outputBuffer_.data();
        row.hasNull = false;
        for (const Slot& column : columns_)
            row.hasNull = row.hasNull || IsNullAt(at, column);
        row.id = Get<ISC_LONG>(at, columns_[0]);
        row.keyword = IsNullAt(at, columns_[1]) ? std::string() : GetText(at, columns_[1]);
        row.userName = IsNullAt(at, columns_[2]) ? std::string() : GetText(at, columns_[2]);
        row.stamp = Get<ISC_TIMESTAMP>(at, columns_[3]);
        return true;
    }

private:
    Firebird::ITransaction* transaction_;
    ThrowStatusWrapper* st_;
    Handle<Firebird::IStatement> statement_;
    Handle<Firebird::IMessageMetadata> input_;
    Handle<Firebird::IMessageMetadata> output_;
    Slot key_;
    std::vector<Slot> columns_;
    std::vector<unsigned char> inputBuffer_;
    std::vector<unsigned char> outputBuffer_;
};

const unsigned char kReadTpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed,
                                  isc_tpb_rec_version, isc_tpb_wait};
// What the data layer asks for its own transactions.
const unsigned char kWriteTpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                   isc_tpb_rec_version, isc_tpb_wait};

// Reads the rows of the targets in one read-only transaction. With `choose`, picks the targets
// first: one row in each run of rows/changes keys, the last one without a null column, so that
// both runs write the same WHERE clause for every row.
std::vector<PlainRow> ReadTargets(Firebird::IAttachment* attachment, ThrowStatusWrapper* st,
                                  std::vector<TargetRow>& targets, bool choose,
                                  std::int64_t rows = 0, std::int64_t changes = 0) {
    Handle<Firebird::ITransaction> transaction;
    transaction.Reset(attachment->startTransaction(st, sizeof kReadTpb, kReadTpb));
    std::vector<PlainRow> found;
    {
        RowReader reader(attachment, transaction.get(), st);
        if (choose) {
            std::int64_t stride = rows / changes;
            targets.clear();
            targets.reserve(static_cast<std::size_t>(changes));
            PlainRow row;
            for (std::int64_t i = 0; i < changes; ++i) {
                std::int64_t key = (i + 1) * stride;
                while (key > i * stride && !(reader.Read(key, row) && !row.hasNull))
                    --key;
                if (key == i * stride)
                    throw std::runtime_error(
                        "no row without nulls among keys " + std::to_string(i * stride + 1) + ".." +
                        std::to_string((i + 1) * stride) + "; ask for fewer changes");
                targets.push_back({key, row.keyword});
            }
        }
        found.resize(targets.size());
        for (std::size_t i = 0; i < targets.size(); ++i) {
            if (!reader.Read(targets[i].key, found[i]) || found[i].hasNull)
                throw std::runtime_error("row " + std::to_string(targets[i].key) +
                                         " is gone or has a null column");
            if (found[i].keyword != targets[i].keyword)
                throw std::runtime_error("row " + std::to_string(targets[i].key) + " holds \"" +
                                         found[i].keyword + "\", not \"" + targets[i].keyword +
                                         "\": the last run did not write it");
        }
    }
    transaction->commit(st);
    transaction.Take();
    return found;
}

// Picks the rows to change, or (targets given) checks that the table holds their keywords.
void ChooseOrCheckTargets(const std::string& database, std::vector<TargetRow>& targets, bool choose,
                          std::int64_t rows, std::int64_t changes) {
    Firebird::IMaster* master = ClientMaster();
    fbdrv::Status status(master);
    ThrowStatusWrapper& st = *status.get();
    try {
        Handle<Firebird::IAttachment> attachment = Attach(master, &st, database);
        ReadTargets(attachment.get(), &st, targets, choose, rows, changes);
        attachment->detach(&st);
        attachment.Take();
    } catch (const FbException& error) {
        throw std::runtime_error("reading the rows to change: " + ErrorText(error));
    }
}

// Updates the targets the way a program without any data layer would: one transaction, one
// prepared update with the same WHERE clause as the dataset writes, executed once per row with
// its old values, the affected count checked, commit. The old values are read beforehand and
// the attachment is made beforehand; neither is timed. Timed: starting the transaction,
// preparing the update (the apply prepares its statement too), every execution and the commit.
RunTimes PlainUpdate(const std::string& database, std::vector<TargetRow>& targets) {
    Firebird::IMaster* master = ClientMaster();
    fbdrv::Status status(master);
    ThrowStatusWrapper& st = *status.get();
    RunTimes times;
    try {
        Handle<Firebird::IAttachment> attachment = Attach(master, &st, database);
        std::vector<PlainRow> old = ReadTargets(attachment.get(), &st, targets, false);
        std::vector<std::string> keywords(targets.size());
        for (std::size_t i = 0; i < targets.size(); ++i)
            keywords[i] = Flipped(targets[i].keyword);

        Handle<Firebird::ITransaction> transaction;
        Handle<Firebird::IStatement> statement;
        Handle<Firebird::IMessageMetadata> input;
        std::size_t missed = 0;

        Stopwatch watch;
        CpuStopwatch cpu;
        transaction.Reset(attachment->startTransaction(&st, sizeof kWriteTpb, kWriteTpb));
        statement.Reset(attachment->prepare(
            &st, transaction.get(), 0,
            "update \"KEY_WORDS\" set \"KEY_WORD\" = ? where \"KEYWORD_NO\" = ? and \"ID\" = ? "
            "and \"KEY_WORD\" = ? and \"USER_NAME\" = ? and \"TS\" = ?",
            3, Firebird::IStatement::PREPARE_PREFETCH_METADATA));
        input.Reset(statement->getInputMetadata(&st));
        std::vector<Slot> slots =
            SlotsOf(input.get(), &st,
                    {SQL_VARYING, SQL_LONG, SQL_LONG, SQL_VARYING, SQL_VARYING, SQL_TIMESTAMP},
                    "parameters of the update");
        std::vector<unsigned char> buffer(input->getMessageLength(&st), 0);
        unsigned char* message = buffer.data();
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const PlainRow& row = old[i];
            PutText(message, slots[0], keywords[i]);
            Put(message, slots[1], static_cast<ISC_LONG>(targets[i].key));
            Put(message, slots[2], row.id);
            PutText(message, slots[3], row.keyword);
            PutText(message, slots[4], row.userName);
            Put(message, slots[5], row.stamp);
            statement->execute(&st, transaction.get(), input.get(), message, nullptr, nullptr);
            if (statement->getAffectedRecords(&st) != 1)
                ++missed;
        }
        transaction->commit(&st);
        transaction.Take();
        times.seconds = watch.Seconds();
        times.cpuSeconds = cpu.Seconds();

        statement->free(&st);
        statement.Take();
        attachment->detach(&st);
        attachment.Take();
        if (missed)
            throw std::runtime_error("the plain update missed " + std::to_string(missed) + " rows");
    } catch (const FbException& error) {
        throw std::runtime_error("plain update: " + ErrorText(error));
    }
    for (TargetRow& target : targets)
        target.keyword = Flipped(target.keyword);
    return times;
}

// ---------------------------------------------------------------------------------------------
// The dataset side.

// Opens a cached dataset on the table as the open benchmark does, modifies the targets through
// it and times ApplyUpdates alone.
RunTimes ApplyDataSet(const std::string& database, std::vector<TargetRow>& targets) {
    TSimpleDataSet ds("SimpleDataSet1");
    SetUpKeywordDataSet(ds, database);
    ds.Open();

    // Record numbers by key: the table's own order need not be the key order.
    const int keyField = ds.FieldByName("KEYWORD_NO").Index();
    std::vector<int> recordOfKey;
    for (int position = 0; position < ds.Engine().ViewCount(); ++position) {
        TValue value = ds.Engine().Value(position, keyField);
        const auto* key = std::get_if<std::int64_t>(&value);
        if (!key || *key < 1 || *key > 0x7FFFFFFF)
            continue;
        if (static_cast<std::size_t>(*key) >= recordOfKey.size())
            recordOfKey.resize(static_cast<std::size_t>(*key) + 1, 0);
        recordOfKey[static_cast<std::size_t>(*key)] = position + 1;
    }

    TField& keyword = ds.FieldByName("KEY_WORD");
    for (const TargetRow& target : targets) {
        int record = static_cast<std::size_t>(target.key) < recordOfKey.size()
                         ? recordOfKey[static_cast<std::size_t>(target.key)]
                         : 0;
        if (record == 0)
            throw std::runtime_error("the dataset has no row " + std::to_string(target.key));
        ds.SetRecNo(record);
        TValue current = keyword.Value();
        const auto* text = std::get_if<std::string>(&current);
        if (!text || *text != target.keyword)
            throw std::runtime_error("row " + std::to_string(target.key) +
                                     " does not hold the keyword the last run wrote");
        ds.Edit();
        keyword.SetValue(std::string(Flipped(target.keyword)));
        ds.Post();
    }
    if (ds.ChangeCount() != static_cast<int>(targets.size()))
        throw std::runtime_error("the dataset logged " + std::to_string(ds.ChangeCount()) +
                                 " changes for " + std::to_string(targets.size()) + " rows");

    Stopwatch watch;
    CpuStopwatch cpu;
    int failed = ds.ApplyUpdates(-1);
    RunTimes times{watch.Seconds(), cpu.Seconds()};

    if (failed != 0 || ds.ChangeCount() != 0)
        throw std::runtime_error("ApplyUpdates returned " + std::to_string(failed) + " with " +
                                 std::to_string(ds.ChangeCount()) + " changes left pending");
    for (TargetRow& target : targets)
        target.keyword = Flipped(target.keyword);
    return times;
}

} // namespace

int RunApplyBench(const std::vector<std::string>& args) {
    ApplyOptions options;
    if (!ParseApplyOptions(args, options))
        return 2;
    const std::string& database = options.table.database;

    PrepareKeywordTable(database, options.table.rows);

    std::vector<TargetRow> targets;
    ChooseOrCheckTargets(database, targets, true, options.table.rows, options.changes);

    // One run of each brings the table, its index and the program into memory; not counted.
    // Every run flips the keywords, so that the table ends as it was after the even count.
    RunTimes plain = PlainUpdate(database, targets);
    RunTimes apply = ApplyDataSet(database, targets);
    std::fprintf(stderr, "warm-up: plain %.3f s (cpu %.3f s), apply %.3f s (cpu %.3f s)\n",
                 plain.seconds, plain.cpuSeconds, apply.seconds, apply.cpuSeconds);

    // The two runs of a round follow each other, so they see the same machine and the same
    // table: each round gives one ratio, and the figures are the medians of those. The table
    // grows old record versions from round to round, so the fastest runs of the two sides
    // need not come from the same round; their ratio is printed too, for comparison.
    std::vector<double> plainSeconds, applySeconds, plainCpu, applyCpu, ratios, cpuRatios;
    for (int round = 1; round <= kRounds; ++round) {
        // Whichever runs second finds the table as the first left it (its old record versions
        // to clean up, its pages in the cache): the two take turns at going first.
        if (round % 2) {
            plain = PlainUpdate(database, targets);
            apply = ApplyDataSet(database, targets);
        } else {
            apply = ApplyDataSet(database, targets);
            plain = PlainUpdate(database, targets);
        }
        std::fprintf(stderr, "round %d: plain %.3f s (cpu %.3f s), apply %.3f s (cpu %.3f s)\n",
                     round, plain.seconds, plain.cpuSeconds, apply.seconds, apply.cpuSeconds);
        plainSeconds.push_back(plain.seconds);
        applySeconds.push_back(apply.seconds);
        plainCpu.push_back(plain.cpuSeconds);
        applyCpu.push_back(apply.cpuSeconds);
        ratios.push_back(apply.seconds / plain.seconds);
        cpuRatios.push_back(apply.cpuSeconds / plain.cpuSeconds);
    }
    // The last apply really reached the table.
    ChooseOrCheckTargets(database, targets, false, 0, 0);

    auto fastest = [](const std::vector<double>& values) {
        return *std::min_element(values.begin(), values.end());
    };
    PrintResult("changes", static_cast<std::int64_t>(targets.size()));
    PrintResult("rounds", static_cast<std::int64_t>(kRounds));
    PrintResult("apply_seconds", Median(applySeconds));
    PrintResult("plain_seconds", Median(plainSeconds));
    PrintResult("apply_ratio", Median(ratios));
    PrintResult("apply_cpu_seconds", Median(applyCpu));
    PrintResult("plain_cpu_seconds", Median(plainCpu));
    PrintResult("apply_cpu_ratio", Median(cpuRatios));
    PrintResult("apply_cpu_ratio_of_fastest", fastest(applyCpu) / fastest(plainCpu));
    return 0;
}

std::vector<double> PlainSingleRowUpdates(const std::string& database, std::int64_t rows,
                                          int rounds, const std::function<void()>& beforeEach) {
    std::vector<TargetRow> targets;
    ChooseOrCheckTargets(database, targets, true, rows, 1);
    Firebird::IMaster* master = ClientMaster();
    fbdrv::Status status(master);
    ThrowStatusWrapper& st = *status.get();
    std::vector<double> seconds;
    try {
        Handle<Firebird::IAttachment> attachment = Attach(master, &st, database);
        const PlainRow row = ReadTargets(attachment.get(), &st, targets, false).at(0);

        // Prepared once, as the data layer keeps its prepared statements.
        Handle<Firebird::IStatement> statement;
        {
            Handle<Firebird::ITransaction> transaction;
            transaction.Reset(attachment->startTransaction(&st, sizeof kWriteTpb, kWriteTpb));
            statement.Reset(attachment->prepare(
                &st, transaction.get(), 0,
                "update \"KEY_WORDS\" set \"KEY_WORD\" = ? where \"KEYWORD_NO\" = ? and \"ID\" = "
                "? and \"KEY_WORD\" = ? and \"USER_NAME\" = ? and \"TS\" = ?",
                3, Firebird::IStatement::PREPARE_PREFETCH_METADATA));
            transaction->commit(&st);
            transaction.Take();
        }
        Handle<Firebird::IMessageMetadata> input;
        input.Reset(statement->getInputMetadata(&st));
        std::vector<Slot> slots =
            SlotsOf(input.get(), &st,
                    {SQL_VARYING, SQL_LONG, SQL_LONG, SQL_VARYING, SQL_VARYING, SQL_TIMESTAMP},
                    "parameters of the update");
        std::vector<unsigned char> buffer(input->getMessageLength(&st), 0);
        unsigned char* message = buffer.data();

        TargetRow& target = targets.at(0);
        for (int round = 0; round < rounds; ++round) {
            if (beforeEach)
                beforeEach();
            std::string keyword = Flipped(target.keyword);
            PutText(message, slots[0], keyword);
            Put(message, slots[1], static_cast<ISC_LONG>(target.key));
            Put(message, slots[2], row.id);
            PutText(message, slots[3], target.keyword);
            PutText(message, slots[4], row.userName);
            Put(message, slots[5], row.stamp);

            // Timed: the transaction, the update and the commit.
            Stopwatch watch;
            Handle<Firebird::ITransaction> transaction;
            transaction.Reset(attachment->startTransaction(&st, sizeof kWriteTpb, kWriteTpb));
            statement->execute(&st, transaction.get(), input.get(), message, nullptr, nullptr);
            ISC_UINT64 affected = statement->getAffectedRecords(&st);
            transaction->commit(&st);
            transaction.Take();
            seconds.push_back(watch.Seconds());

            if (affected != 1)
                throw std::runtime_error("the plain update missed row " +
                                         std::to_string(target.key));
            target.keyword = keyword;
        }
        statement->free(&st);
        statement.Take();
        attachment->detach(&st);
        attachment.Take();
    } catch (const FbException& error) {
        throw std::runtime_error("plain single-row update: " + ErrorText(error));
    }
    return seconds;
}

} // namespace sorvanto::bench
