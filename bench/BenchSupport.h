#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Small pieces shared by the benchmark commands: options, timing and the result lines.
namespace sorvanto::bench {

// Options common to the commands that work on the keyword table.
struct TableOptions {
    std::string database;        // the database file
    std::int64_t rows = 1000000; // rows the table is seeded to
};

// Parses "--database PATH" and "--rows N" (also "--name=value"); false with a message on stderr
// when an argument is unknown or malformed.
bool ParseTableOptions(const std::vector<std::string>& args, TableOptions& options);

// Splits the option at args[i] into its name and value ("--name value" or "--name=value"),
// moving i past what it took; false with a message on stderr when the value is missing.
bool TakeOption(const std::vector<std::string>& args, std::size_t& i, std::string& name,
                std::string& value);
// A whole number from 1 to 2147483647 given for an option; false with a message on stderr.
bool ParseCount(const std::string& name, const std::string& value, std::int64_t& count);

// For the widget benchmarks: the offscreen platform (unless QT_QPA_PLATFORM names another) and
// the program arguments a QApplication is made with.
struct OffscreenArguments {
    OffscreenArguments();
    int argc = 1;
    char name[16] = "sorvanto-bench";
    char* argv[2] = {name, nullptr};
};

// The database used when none is given: $SORVANTO_BENCH_DB, else bench-data/keywords.fdb beside
// the executable (the folder is created).
std::string DefaultDatabase();

// Seconds since construction, on the monotonic clock.
class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

// The middle of the measured values (the mean of the two middle ones for an even count).
double Median(std::vector<double> values);

// Prints one "name: value" result line on stdout.
void PrintResult(const char* name, double value);
void PrintResult(const char* name, std::int64_t value);

} // namespace sorvanto::bench
