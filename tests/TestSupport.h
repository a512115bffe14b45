#pragma once

#include "Connection.h"
#include "FirebirdDriver.h"
#include "SimpleDataSet.h"

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

namespace sorvanto::test {

// Sets an environment variable (or removes it, given nullptr) for the life of the object, then
// puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A folder of its own for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "sorvanto-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Creates an embedded database at path and runs the statements on it, each committed.
inline void CreateDatabase(const std::string& path, std::initializer_list<std::string> statements,
                           const std::string& charSet = "UTF8") {
    TParamList props{"Database=" + path, "User_Name=SYSDBA", "DatabaseCharSet=" + charSet};
    auto attachment = TDrvConnection::CreateDatabase(props);
    for (const std::string& sql : statements) {
        auto transaction = attachment->BeginTransaction(TDrvIsolation::ReadCommitted);
        attachment->ExecuteImmediate(*transaction, sql);
        transaction->Commit();
    }
}

// A connection as the system sets one up, not yet open.
inline std::unique_ptr<TSQLConnection> MakeConnection(const std::string& database,
                                                      const std::string& name = "SQLConnection1") {
    auto connection = std::make_unique<TSQLConnection>(name);
    connection->LoginPrompt = false;
    connection->SetDriverName("Firebird");
    connection->VendorLib = "fbclient.dll";
    connection->Params().Add("Database=" + database);
    connection->Params().Add("User_Name=SYSDBA");
    return connection;
}

// A cached table dataset on a table, set up as the window sets its own up.
inline std::unique_ptr<TSimpleDataSet> MakeTable(const std::string& database,
                                                 const std::string& table,
                                                 const std::string& name = "SimpleDataSet1") {
    auto dataSet = std::make_unique<TSimpleDataSet>(name);
    TSQLConnection& connection = dataSet->Connection();
    connection.LoginPrompt = false;
    connection.SetDriverName("Firebird");
    connection.VendorLib = "fbclient.dll";
    connection.Params().Add("Database=" + database);
    connection.Params().Add("User_Name=SYSDBA");
    dataSet->DataSet().SetCommandType(TSQLCommandType::ctTable);
    dataSet->DataSet().SetCommandText(table);
    dataSet->DataSet().MaxBlobSize = -1;
    return dataSet;
}

// The same, opened.
inline std::unique_ptr<TSimpleDataSet> OpenTable(const std::string& database,
                                                 const std::string& table,
                                                 const std::string& name = "SimpleDataSet1") {
    auto dataSet = MakeTable(database, table, name);
    dataSet->Open();
    return dataSet;
}

// The statement a pending change of a dataset is sent with, and its parameters, as an apply
// writes them: the planner's plan for the change's shape, and the values of its parameters.
struct SentStatement {
    std::string text;
    std::vector<TValue> params;
};
inline SentStatement StatementOf(TSimpleDataSet& dataSet, std::size_t recordNumber) {
    TSQLResolver resolver(dataSet.Connection(), dataSet.DataSet().CommandText());
    const TChangeSet changes(dataSet.Engine());
    TStatementPlanner planner = resolver.Planner(changes.Fields());
    const TChange& change = changes[recordNumber];
    std::string key;
    planner.Shape(change, changes.Rows(),
                  change.oldRow == kNoRow ? nullptr : changes.Rows().RowBytes(change.oldRow), key);
    const TStatementPlan& plan = planner.PlanFor(key);
    return {plan.text, PlanValues(changes, change, plan)};
}

// The private test server started by the test command, when there is one.
struct TestServer {
    std::string port;
    std::string password;
    bool Available() const { return !port.empty(); }
    static TestServer FromEnvironment() {
        TestServer server;
        if (const char* p = std::getenv("SORVANTO_TEST_SERVER_PORT"))
            server.port = p;
        if (const char* p = std::getenv("SORVANTO_TEST_SERVER_PASSWORD"))
            server.password = p;
        return server;
    }
    std::string Database(const std::string& path) const { return "localhost/" + port + ":" + path; }
};

} // namespace sorvanto::test
