#include "DriverRegistry.h"

#include "ParamList.h"

#include <mutex>

namespace sorvanto {

namespace {
std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
}
} // namespace

const TDriverDefaults& FirebirdDriverDefaults() {
    static const TDriverDefaults defaults = {
        {"DriverUnit", "sorvanto/data/FirebirdDriver"},
        {"DriverPackageLoader", "TFirebirdDriverLoader"},
        {"DriverAssemblyLoader", "TFirebirdDriverLoader"},
        {"MetaDataPackageLoader", "TFirebirdMetaDataLoader"},
        {"MetaDataAssemblyLoader", "TFirebirdMetaDataLoader"},
        {"GetDriverFunc", "getSQLDriverFIREBIRD"},
        {"LibraryName", "fbdriver.dll"},
        {"VendorLib", "fbclient.dll"},
        {"Database", "database.gdb"},
        {"User_Name", "sysdba"},
        {"Password", "quillbarn"},
        {"Role", "RoleName"},
        {"MaxBlobSize", "-1"},
        {"LocaleCode", "0000"},
        {"IsolationLevel", "ReadCommitted"},
        {"SQLDialect", "3"},
        {"CommitRetain", "False"},
        {"WaitOnLocks", "True"},
        {"TrimChar", "False"},
    };
    return defaults;
}

TDriverRegistry::TDriverRegistry() {
    drivers_.push_back({"Firebird", FirebirdDriverDefaults()});
}

TDriverRegistry& TDriverRegistry::Instance() {
    std::lock_guard guard(RegistryLock());
    static TDriverRegistry* registry = new TDriverRegistry();
    return *registry;
}

const TDriverDefaults* TDriverRegistry::FindDriver(std::string_view name) const {
    std::lock_guard guard(RegistryLock());
    for (const Driver& driver : drivers_)
        if (SameText(driver.name, name))
            return &driver.defaults;
    return nullptr;
}

const std::vector<std::string>* TDriverRegistry::FindConnectionProfile(std::string_view) const {
    return nullptr;
}

bool TDriverRegistry::AcquireDriver(std::string_view name) {
    std::lock_guard guard(RegistryLock());
    for (Driver& driver : drivers_)
        if (SameText(driver.name, name)) {
            bool first = !driver.created;
            driver.created = true;
            return first;
        }
    return false;
}

} // namespace sorvanto
