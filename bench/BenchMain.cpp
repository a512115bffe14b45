// sorvanto-bench: measures the data layer against an embedded Firebird database and prints the
// figures as "name: value" lines. It measures only; it judges nothing. Built as
// sorvanto-bench-widgets, it holds the benchmarks of the widgets instead, which sorvanto-bench
// hands over to it: the data layer's figures come from a process without the widget libraries.

#include "ApplyBench.h"
#ifdef SORVANTO_BENCH_WIDGETS
#include "ClickBench.h"
#include "GridBench.h"
#include "PaintBench.h"
#endif
#include "OpenBench.h"
#include "SettleBench.h"

#include <Errors.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Command = int (*)(const std::vector<std::string>& args);

struct CommandEntry {
    const char* name;
    Command run;
    const char* usage;
};

constexpr const char* kOpenUsage =
    "open [--database PATH] [--rows N]\n"
    "      Opens a cached dataset on the KEY_WORDS table (seeded to N rows, default 1000000)\n"
    "      and compares it with a plain fetch through the client library.\n";
constexpr const char* kApplyUsage =
    "apply [--database PATH] [--rows N] [--changes M]\n"
    "      Modifies M rows (default 10000) spread over the KEY_WORDS table in a cached\n"
    "      dataset and times ApplyUpdates against a plain loop of updates through the client\n"
    "      library, in six rounds that run each side once; the ratios are the medians of\n"
    "      the rounds' own ratios.\n";
constexpr const char* kGridUsage =
    "grid [--database PATH] [--rows N]\n"
    "      Shows KEY_WORDS in an offscreen data grid of the window's size, on tables of 1000\n"
    "      and of N rows (default 1000000; the small one beside PATH with \"-1k\" added), and\n"
    "      times a full repaint, a step down from the bottom row, a thumb jump and a find\n"
    "      that misses every row of the KEY_WORD column.\n";
constexpr const char* kClickUsage =
    "click [--database PATH] [--rows N]\n"
    "      Clicks Next on a record navigator (offscreen) over a keywords view of N rows, the\n"
    "      window's apply step included: with nothing pending, and after one edited cell;\n"
    "      beside the same single-row update and commit through the client library.\n";
constexpr const char* kSettleUsage =
    "settle [--changes N]\n"
    "      Against a private Firebird server on loopback (scripts/test-server.sh), applies N\n"
    "      changes (default 3000: modifications, deletions and insertions alike) through a\n"
    "      relay that drops the answer to the commit, then times the click that settles them\n"
    "      from the rows; medians of three rounds (apply_s, settle_s, settle_ratio).\n";
constexpr const char* kPaintUsage =
    "paint [--database PATH] [--rows N]\n"
    "      Opens the keywords view of the program's window (offscreen) on N rows while the\n"
    "      window is asked to repaint every 5 ms; the longest stretch without a paint\n"
    "      (open_paint_gap_ms).\n";

// A command without a function runs in sorvanto-bench-widgets.
#ifndef SORVANTO_BENCH_WIDGETS
const CommandEntry kCommands[] = {
    {"open", sorvanto::bench::RunOpenBench, kOpenUsage},
    {"apply", sorvanto::bench::RunApplyBench, kApplyUsage},
    {"settle", sorvanto::bench::RunSettleBench, kSettleUsage},
#ifdef SORVANTO_BENCH_HAS_WIDGETS
    {"grid", nullptr, kGridUsage},
    {"click", nullptr, kClickUsage},
    {"paint", nullptr, kPaintUsage},
#endif
};
#else
const CommandEntry kCommands[] = {
    {"grid", sorvanto::bench::RunGridBench, kGridUsage},
    {"click", sorvanto::bench::RunClickBench, kClickUsage},
    {"paint", sorvanto::bench::RunPaintBench, kPaintUsage},
};
#endif

// Runs a command of the widget benchmarks in sorvanto-bench-widgets, found beside this program.
int RunInWidgetsBinary(char** argv) {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        std::cerr << "sorvanto-bench: cannot find its own folder: " << ec.message() << "\n";
        return 1;
    }
    std::string widgets = (self.parent_path() / "sorvanto-bench-widgets").string();
    argv[0] = widgets.data();
    ::execv(widgets.c_str(), argv);
    std::cerr << "sorvanto-bench: cannot run " << widgets << ": " << std::strerror(errno) << "\n";
    return 1;
}

void PrintUsage(std::ostream& out) {
    out << "usage: sorvanto-bench COMMAND [OPTIONS]\n\ncommands:\n";
    for (const CommandEntry& command : kCommands)
        out << "  " << command.usage;
    out << "\nThe database defaults to $SORVANTO_BENCH_DB, else bench-data/keywords.fdb beside "
           "the\n"
           "executable; it is created and seeded when needed.\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(std::cerr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        PrintUsage(std::cout);
        return 0;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const CommandEntry& command : kCommands) {
        if (name != command.name)
            continue;
        if (!command.run)
            return RunInWidgetsBinary(argv);
        try {
            return command.run(args);
        } catch (const sorvanto::Exception& error) {
            std::cerr << "sorvanto-bench " << name << ": " << error.ClassName() << ": "
                      << error.Message() << "\n";
        } catch (const std::exception& error) {
            std::cerr << "sorvanto-bench " << name << ": " << error.what() << "\n";
        }
        return 1;
    }
    std::cerr << "unknown command: " << name << "\n\n";
    PrintUsage(std::cerr);
    return 2;
}
