#include "SettleBench.h"

#include "BenchSupport.h"

#include <PrivateServer.h>
#include <Relay.h>
#include <SimpleDataSet.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

namespace sorvanto::bench {

namespace {
constexpr int kRounds = 3;
constexpr std::int64_t kDefaultEach = 1000;

// A folder of the run's own, removed afterwards.
struct Folder {
    std::string path;
    Folder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "sorvanto-settle-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

std::unique_ptr<TSQLConnection> Connect(const std::string& database, const std::string& password,
                                        const std::string& name) {
    auto connection = std::make_unique<TSQLConnection>(name);
    connection->LoginPrompt = false;
    connection->SetDriverName("Firebird");
    connection->VendorLib = "fbclient.dll";
    connection->Params().Add("Database=" + database);
    connection->Params().Add("User_Name=SYSDBA");
    connection->Params().Add("Password=" + password);
    return connection;
}
} // namespace

int RunSettleBench(const std::vector<std::string>& args) {
    std::int64_t changes = 3 * kDefaultEach;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name, value;
        if (args[i] != "--changes" && args[i].rfind("--changes=", 0) != 0) {
            std::cerr << "unknown argument: " << args[i] << "\n";
            return 2;
        }
        if (!TakeOption(args, i, name, value) || !ParseCount(name, value, changes))
            return 2;
    }
    const std::int64_t each = std::max<std::int64_t>(1, changes / 3);
    Folder folder;
    test::PrivateServer server(folder.path + "/server");
    if (!server.Start()) {
        std::cerr << "settle: the private server did not start (" << folder.path << ")\n";
        return 1;
    }
    test::TcpRelay relay(std::stoi(server.port));
    const std::string path = folder.path + "/settle.fdb";
    {
        TParamList props{"Database=" + server.Database(path), "User_Name=SYSDBA",
                         "Password=" + server.password};
        auto created = TDrvConnection::CreateDatabase(props);
        auto transaction = created->BeginTransaction(TDrvIsolation::ReadCommitted);
        created->ExecuteImmediate(*transaction, "create table T (ID integer not null primary key, "
                                                "NAME varchar(40))");
        transaction->Commit();
    }
    auto check = Connect(server.Database(path), server.password, "Check");
    std::vector<double> applySeconds, settleSeconds, ratios;
    for (int round = 0; round < kRounds; ++round) {
        check->Execute("delete from T", {});
        check->Execute("execute block as declare i integer = 1; begin while (i <= " +
                           std::to_string(2 * each) +
                           ") do begin insert into T values (:i, 'row ' || :i); i = i + 1; end end",
                       {});
        TSimpleDataSet ds("SimpleDataSet1");
        TSQLConnection& connection = ds.Connection();
        connection.LoginPrompt = false;
        connection.SetDriverName("Firebird");
        connection.VendorLib = "fbclient.dll";
        connection.Params().Add("Database=localhost/" + std::to_string(relay.Port()) + ":" + path);
        connection.Params().Add("User_Name=SYSDBA");
        connection.Params().Add("Password=" + server.password);
        ds.DataSet().SetCommandType(TSQLCommandType::ctTable);
        ds.DataSet().SetCommandText("T");
        ds.Open();
        for (std::int64_t i = 1; i <= each; ++i) {
            ds.SetRecNo(static_cast<int>(i));
            ds.Edit();
            ds.FieldByName("NAME").SetValue("changed " + std::to_string(i));
            ds.Post();
        }
        for (std::int64_t i = 0; i < each; ++i) {
            ds.SetRecNo(static_cast<int>(each + 1));
            ds.Delete();
        }
        for (std::int64_t i = 1; i <= each; ++i) {
            ds.Append();
            ds.FieldByName("ID").SetValue(std::int64_t(1000000 + i));
            ds.FieldByName("NAME").SetValue("new " + std::to_string(i));
            ds.Post();
        }
        ds.OnProgress = [&](TProgressKind kind, std::int64_t sent, std::int64_t total) {
            if (kind == TProgressKind::pkApplying && sent == total && total > 0 &&
                ds.UnconfirmedCount() == 0)
                relay.DropNextAnswer();
            return true;
        };
        Stopwatch sending;
        ds.ApplyUpdates(-1);
        applySeconds.push_back(sending.Seconds());
        ds.OnProgress = nullptr;
        if (ds.UnconfirmedCount() != 3 * each) {
            std::cerr << "settle: the commit answer was not lost as planned\n";
            return 1;
        }
        Stopwatch settling;
        ds.ApplyUpdates(-1);
        settleSeconds.push_back(settling.Seconds());
        if (ds.ChangeCount() != 0) {
            std::cerr << "settle: " << ds.ChangeCount() << " changes left pending\n";
            return 1;
        }
        ratios.push_back(settleSeconds.back() / applySeconds.back());
    }
    PrintResult("changes", 3 * each);
    PrintResult("apply_s", Median(applySeconds));
    PrintResult("settle_s", Median(settleSeconds));
    PrintResult("settle_ratio", Median(ratios));
    return 0;
}

} // namespace sorvanto::bench
