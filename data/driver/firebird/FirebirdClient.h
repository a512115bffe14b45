#pragma once

#include <cstdint>
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

// The SQL code of an error status vector of the engine, as the client library works it out
// (isc_sqlcode); 0 when no client library is loaded.
int SqlCodeOf(const intptr_t* errors) noexcept;

// Stops every client library loaded so far, and with it the embedded engine and its threads:
// open attachments are cut off. For the end of a process only; nothing may attach afterwards.
void ShutdownClients() noexcept;

// How the embedded engine of this process shares database files with other processes.
struct EngineSharing {
    // True: the engine opens files shared (SuperClassic) and coordinates through lockFolder with
    // every other process that uses it. False: it opens each file alone (SuperServer locks the
    // file against every other process) with a lock folder of its own.
    bool shared = false;
    std::string root;       // the Firebird root handed to the engine; empty: the client's own
    std::string lockFolder; // the engine's lock folder; empty when no engine is installed
    std::string reasons;    // why the shared lock folder was not used, when it was not
};

// Decides, once per process and before the engine is loaded, where the embedded engine runs from
// and with which lock folder. A FIREBIRD root set by the user is used only when it passes the
// checks of UserRootProblems, and only with a lock folder that may be shared. Otherwise the
// engine runs from a private root: shared when the lock folder passes SharedLockFolderProblems,
// alone with a lock folder inside the private root when it does not. Raises TDriverError with
// the reasons when nothing safe can be used (and tries again at the next call).
const EngineSharing& PrepareEmbeddedEngine();

// The lock folder the engine would use: $FIREBIRD_LOCK when set and not empty, else the engine's
// built-in /tmp/firebird.
std::string EngineLockFolder();

// Why the folder cannot be shared with other processes as the engine's lock folder; empty when it
// can. It must be a real folder (not a link), owned by root, by the firebird system account or by
// us, writable by no one else but the members of group firebird (Debian's layout) or of the
// owner's own group, in a chain of folders no one else can rename it out of, writable by us, and
// hold no link, hard link or anything but plain files, so that the engine's files in it are
// its own.
std::string SharedLockFolderProblems(const std::string& folder);

// Why a Firebird root set by the user in FIREBIRD cannot be loaded from; empty when it can. It
// must be a real folder owned by root or us and writable by no one else, and so must every file
// the engine reads from it and every library folder it loads from (plugins, intl, lib, UDF),
// followed through links, together with the folders that hold them.
std::string UserRootProblems(const std::string& root);

// Before each attachment through the embedded engine (a database path without a host) in shared
// mode: the lock folder is checked again, since members of a sharing group could have planted a
// link in it after the engine was loaded. Raises TDriverError with the reasons.
void CheckLockFolderBeforeAttach(const std::string& database);

// The Firebird root of the installed client and engine (the folder that holds the engine
// plugin); empty when there is none.
std::string SystemFirebirdRoot();

// The folders tried in turn for the private root: $XDG_RUNTIME_DIR/sorvanto-firebird when that
// folder is set and writable, else /tmp/sorvanto-firebird-<uid>; then
// $XDG_CACHE_HOME/sorvanto-firebird (~/.cache/sorvanto-firebird).
std::vector<std::string> PrivateRootCandidates();

// The engine's mode in a private root.
enum class RootMode { Shared, Alone };

// Makes a private root of systemRoot in the first candidate that can be made safe and returns
// it: the folder root2 (shared) or root2-alone (alone) inside the candidate, named by its real
// path. A candidate is used only as a real folder (not a link) owned by us, mode 0700 when we
// create it, writable by no one else, in a parent no one else can swap it out of, on a file
// system that can load libraries. In the root, every entry of the system root is a link to that
// entry (anything else there is replaced), except firebird.conf, our own, rewritten and read
// back, and intl, a folder of our own with a copy of each library of the system's intl folder
// (refreshed when it differs) and a link to each other entry. An alone root also holds the lock
// folder lock, 0700. Whatever else the candidate holds is left as it is. Raises TDriverError
// naming every refused folder and why.
std::string PreparePrivateRoot(const std::string& systemRoot,
                               const std::vector<std::string>& candidates,
                               RootMode mode = RootMode::Shared);

} // namespace sorvanto::fbdrv
