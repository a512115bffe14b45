#include "BenchSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace sorvanto::bench {

namespace fs = std::filesystem;

bool TakeOption(const std::vector<std::string>& args, std::size_t& i, std::string& name,
                std::string& value) {
    name = args[i];
    if (std::size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        return true;
    }
    if (i + 1 >= args.size()) {
        std::cerr << name << " needs a value\n";
        return false;
    }
    value = args[++i];
    return true;
}

bool ParseCount(const std::string& name, const std::string& value, std::int64_t& count) {
    char* end = nullptr;
    errno = 0;
    long long number = std::strtoll(value.c_str(), &end, 10);
    if (value.empty() || *end || errno || number < 1 || number > 0x7FFFFFFF) {
        std::cerr << name << " needs a whole number from 1 to 2147483647: " << value << "\n";
        return false;
    }
    count = number;
    return true;
}

OffscreenArguments::OffscreenArguments() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

bool ParseTableOptions(const std::vector<std::string>& args, TableOptions& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--database" && args[i] != "--rows" && args[i].rfind("--database=", 0) &&
            args[i].rfind("--rows=", 0)) {
            std::cerr << "unknown argument: " << args[i] << "\n";
            return false;
        }
        std::string name, value;
        if (!TakeOption(args, i, name, value))
            return false;
        if (name == "--rows") {
            if (!ParseCount(name, value, options.rows))
                return false;
        } else if (value.empty()) {
            std::cerr << "--database needs a path\n";
            return false;
        } else {
            options.database = value;
        }
    }
    if (options.database.empty())
        options.database = DefaultDatabase();
    return true;
}

std::string DefaultDatabase() {
    if (const char* own = std::getenv("SORVANTO_BENCH_DB"); own && *own)
        return own;
    std::error_code ec;
    fs::path folder = fs::read_symlink("/proc/self/exe", ec).parent_path();
    if (ec || folder.empty())
        folder = fs::current_path();
    folder /= "bench-data";
    fs::create_directories(folder, ec);
    return (folder / "keywords.fdb").string();
}

void PrintResult(const char* name, double value) {
    std::printf("%s: %.4g\n", name, value);
}

void PrintResult(const char* name, std::int64_t value) {
    std::printf("%s: %lld\n", name, static_cast<long long>(value));
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace sorvanto::bench
