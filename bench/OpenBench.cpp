#include "OpenBench.h"

#include "BenchSupport.h"
#include "KeywordTable.h"
#include "PlainFetch.h"

#include <SimpleDataSet.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <limits>

#include <sys/resource.h>

namespace sorvanto::bench {

namespace {

constexpr int kRounds = 5;

struct OpenResult {
    double seconds = 0;
    std::int64_t rows = 0;
    std::size_t storeBytes = 0;
};

// Opens a cached dataset on the whole table.
OpenResult OpenDataSet(const std::string& database) {
    TSimpleDataSet ds("SimpleDataSet1");
    SetUpKeywordDataSet(ds, database);

    Stopwatch watch;
    ds.Open();
    OpenResult result;
    result.seconds = watch.Seconds();
    result.rows = ds.RecordCount();
    result.storeBytes = ds.Engine().StoreBytes();
    return result;
}

// The largest resident size the process has reached so far.
double PeakRssMb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

} // namespace

void SetUpKeywordDataSet(TSimpleDataSet& ds, const std::string& database) {
    ds.Connection().LoginPrompt = false;
    ds.Connection().SetDriverName("Firebird");
    ds.Connection().VendorLib = "fbclient.dll";
    ds.Connection().Params().Add("Database=" + database);
    ds.Connection().Params().Add("User_Name=SYSDBA");
    ds.DataSet().SetCommandType(TSQLCommandType::ctTable);
    ds.DataSet().SetCommandText(kKeywordTable);
    ds.DataSet().MaxBlobSize = -1;
}

int RunOpenBench(const std::vector<std::string>& args) {
    TableOptions options;
    if (!ParseTableOptions(args, options))
        return 2;

    PrepareKeywordTable(options.database, options.rows);

    // The first read brings the database into the page cache; it is not counted.
    PlainFetchResult warmUp = PlainFetch(options.database, kKeywordTable);
    std::fprintf(stderr, "warm-up fetch: %lld rows in %.3f s\n",
                 static_cast<long long>(warmUp.rows), warmUp.seconds);
    // What the process holds before any dataset: the libraries and the engine's page cache.
    double baselineRssMb = PeakRssMb();

    std::vector<double> fetchTimes;
    std::vector<double> openTimes;
    PlainFetchResult fetched = warmUp;
    OpenResult opened;
    for (int round = 1; round <= kRounds; ++round) {
        fetched = PlainFetch(options.database, kKeywordTable);
        opened = OpenDataSet(options.database);
        std::fprintf(stderr, "round %d: fetch %.3f s, open %.3f s\n", round, fetched.seconds,
                     opened.seconds);
        fetchTimes.push_back(fetched.seconds);
        openTimes.push_back(opened.seconds);
    }
    // The largest resident size the process reached: one open dataset at a time.
    double peakRssMb = PeakRssMb();
    double bestFetch = *std::min_element(fetchTimes.begin(), fetchTimes.end());
    double bestOpen = *std::min_element(openTimes.begin(), openTimes.end());
    if (opened.rows != fetched.rows)
        std::fprintf(stderr, "warning: the dataset holds %lld rows, the plain fetch read %lld\n",
                     static_cast<long long>(opened.rows), static_cast<long long>(fetched.rows));

    auto perRow = [](double total, std::int64_t rows) {
        return rows > 0 ? total / static_cast<double>(rows) : 0.0;
    };
    PrintResult("rows", opened.rows);
    PrintResult("open_seconds", bestOpen);
    PrintResult("fetch_seconds", bestFetch);
    PrintResult("open_ratio", bestOpen / bestFetch);
    PrintResult("open_median_seconds", Median(openTimes));
    PrintResult("fetch_median_seconds", Median(fetchTimes));
    PrintResult("open_median_ratio", Median(openTimes) / Median(fetchTimes));
    PrintResult("peak_rss_mb", peakRssMb);
    PrintResult("baseline_rss_mb", baselineRssMb);
    PrintResult("store_bytes_per_row", perRow(static_cast<double>(opened.storeBytes), opened.rows));
    PrintResult("payload_bytes_per_row",
                perRow(static_cast<double>(fetched.payloadBytes), fetched.rows));
    return 0;
}

} // namespace sorvanto::bench
