#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sorvanto {

using TDriverDefaults = std::vector<std::pair<std::string, std::string>>;

// The drivers the connections can name, each with its defaults in order. Built on first use and
// kept for the rest of the run; shared by every connection and guarded by one lock.
class TDriverRegistry {
public:
    static TDriverRegistry& Instance();

    // The defaults of a driver (name compared without regard to letter case), or nullptr.
    const TDriverDefaults* FindDriver(std::string_view name) const;
    // The stored connection profile of that name, or nullptr (only a driver registry file of the
    // database layer would provide them; none is read, so there are none).
    const std::vector<std::string>* FindConnectionProfile(std::string_view name) const;
    // Marks the driver as set up; returns true the first time.
    bool AcquireDriver(std::string_view name);

private:
    TDriverRegistry();
    struct Driver {
        std::string name;
        TDriverDefaults defaults;
        bool created = false;
    };
    std::vector<Driver> drivers_;
};

// The built-in defaults of the Firebird driver, in order.
const TDriverDefaults& FirebirdDriverDefaults();

} // namespace sorvanto
