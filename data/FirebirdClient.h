#pragma once

#include <string>

namespace Firebird {
class IMaster;
class IProvider;
class IUtil;
} // namespace Firebird

namespace sorvanto::fbdrv {

// The loaded Firebird client library and its master interfaces. Loaded once per library file and
// kept until the program ends; a library that failed to load is tried again next time.
struct Client {
    void* handle = nullptr;
    Firebird::IMaster* master = nullptr;
    Firebird::IProvider* provider = nullptr;
    Firebird::IUtil* util = nullptr;
};

// Loads (or finds already loaded) the client library for a VendorLib name. Raises TDriverError
// with the load error or the missing entry point.
Client& LoadClient(const std::string& vendorLib);

// Without a FIREBIRD root of the user's own, the embedded engine runs from a private root whose
// firebird.conf selects a shared server mode, so that other processes can open the same
// database file at the same time. Returns the root in use.
std::string PrepareEmbeddedRoot();

} // namespace sorvanto::fbdrv
