// A second process for the tests: attaches to an embedded database while the test process holds
// it open, inserts one row and prints how many rows the table has, then how its engine shares
// database files ("engine: shared FOLDER" or "engine: alone FOLDER").
//
//   sorvanto-test-peer [--hold] DATABASE ID NAME
//
// With --hold it then prints "ready" and keeps the attachment until its standard input ends.
#include "Errors.h"
#include "FirebirdClient.h"
#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    bool hold = argc > 1 && std::strcmp(argv[1], "--hold") == 0;
    if (hold) {
        --argc;
        ++argv;
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s [--hold] DATABASE ID NAME\n", argv[0]);
        return 2;
    }
    int status = 0;
    try {
        auto connection = sorvanto::test::MakeConnection(argv[1], "Peer");
        connection->Execute("insert into T values (?, ?)",
                            {std::int64_t(std::atoll(argv[2])), std::string(argv[3])});
        std::unique_ptr<sorvanto::TSQLResultSet> rows;
        connection->Execute("select count(*) from T", {}, &rows);
        rows->Next();
        std::printf("rows: %lld\n", static_cast<long long>(rows->Reader().GetInt64(0)));
        rows.reset();
        const auto& engine = sorvanto::fbdrv::PrepareEmbeddedEngine();
        std::printf("engine: %s %s\n", engine.shared ? "shared" : "alone",
                    engine.lockFolder.c_str());
        if (hold) {
            std::printf("ready\n");
            std::fflush(stdout);
            char c;
            while (::read(0, &c, 1) > 0) {
            }
        }
    } catch (const sorvanto::Exception& error) {
        std::fprintf(stderr, "%s: %s\n", error.ClassName(), error.Message().c_str());
        status = 1;
    }
    // The engine's threads end before the process does.
    sorvanto::fbdrv::ShutdownClients();
    return status;
}
