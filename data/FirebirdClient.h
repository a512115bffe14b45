#pragma once

#include <string>
#include <vector>

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

// Stops every client library loaded so far, and with it the embedded engine and its threads:
// open attachments are cut off. For the end of a process only; nothing may attach afterwards.
void ShutdownClients() noexcept;

// Without a FIREBIRD root of the user's own, the embedded engine runs from a private root whose
// firebird.conf selects a shared server mode, so that other processes can open the same
// database file at the same time. Returns the root in use; raises TDriverError when no folder
// can be made a safe private root (and tries again at the next call).
std::string PrepareEmbeddedRoot();

// The Firebird root of the installed client and engine (the folder that holds the engine
// plugin); empty when there is none.
std::string SystemFirebirdRoot();

// The folders tried in turn for the private root: $XDG_RUNTIME_DIR/sorvanto-firebird when that
// folder is set and writable, else /tmp/sorvanto-firebird-<uid>; then
// $XDG_CACHE_HOME/sorvanto-firebird (~/.cache/sorvanto-firebird).
std::vector<std::string> PrivateRootCandidates();

// Makes a private root of systemRoot in the first candidate that can be made safe and returns
// it: the folder root2 inside the candidate, named by its real path. A candidate is used only as
// a real folder (not a link) owned by us, mode 0700 when we create it, writable by no one else,
// in a parent no one else can swap it out of, on a file system that can load libraries. In the
// root, every entry of the system root is a link to that entry (anything else there is
// replaced), except firebird.conf, our own, rewritten and read back, and intl, a folder of our
// own with a copy of each library of the system's intl folder (refreshed when it differs) and a
// link to each other entry. Whatever else the candidate holds is left as it is. Raises
// TDriverError naming every refused folder and why.
std::string PreparePrivateRoot(const std::string& systemRoot,
                               const std::vector<std::string>& candidates);

} // namespace sorvanto::fbdrv
