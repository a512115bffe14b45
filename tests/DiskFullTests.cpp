// A database whose disk fills up during an apply: once there is room again, the next apply opens
// the connection again and every pending change arrives, none twice.
#include "Errors.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace sorvanto;

namespace {

// Room for a database that can be taken away and given back. As root, a file system of 3 MiB of
// the test's own, mounted on a folder and filled with a file; otherwise the process's limit on
// the size of the files it writes, which fails a write past it as a full disk does.
class SmallDisk {
public:
    explicit SmallDisk(std::string dir) : dir_(std::move(dir)) {
        std::filesystem::create_directory(dir_);
        mounted_ = ::mount("sorvanto-test", dir_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                           "size=3m,mode=0700") == 0;
        if (!mounted_)
            std::printf("no file system of the test's own (%s): a file size limit stands in\n",
                        std::strerror(errno));
    }
    ~SmallDisk() {
        Free();
        if (mounted_)
            ::umount2(dir_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    std::string File(const std::string& name) const { return dir_ + "/" + name; }

    // Leaves room for `room` more bytes in the file system, or past the size of `file`.
    void Fill(const std::string& file, off_t room) {
        if (mounted_) {
            const std::string filler = File("filler");
            const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            ASSERT_GE(fd, 0) << std::strerror(errno);
            const std::string block(4096, 'x');
            while (::write(fd, block.data(), block.size()) > 0) {
            }
            EXPECT_EQ(errno, ENOSPC);
            ::close(fd);
            std::filesystem::resize_file(filler, std::filesystem::file_size(filler) - room);
            return;
        }
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved_), 0);
        oldSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = static_cast<rlim_t>(std::filesystem::file_size(file)) + room;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0) << std::strerror(errno);
        limited_ = true;
    }
    void Free() {
        if (mounted_) {
            std::error_code ec;
            std::filesystem::remove(File("filler"), ec);
        }
        if (limited_) {
            ::setrlimit(RLIMIT_FSIZE, &saved_);
            std::signal(SIGXFSZ, oldSignal_);
            limited_ = false;
        }
    }

private:
    std::string dir_;
    bool mounted_ = false;
    bool limited_ = false;
    rlimit saved_{};
    void (*oldSignal_)(int) = SIG_DFL;
};

// Text that the engine's record compression cannot shrink.
std::string Incompressible(std::size_t length, int seed) {
    std::string text;
    unsigned state = static_cast<unsigned>(seed) * 2654435761u + 1;
    while (text.size() < length) {
        state = state * 1103515245u + 12345u;
        text += static_cast<char>('a' + (state >> 16) % 26);
    }
    return text;
}

TEST(DiskFull, AnApplyThatRanOutOfSpaceIsSentWholeOnceThereIsRoomAgain) {
    constexpr int kRows = 10;
    struct Case {
        const char* label;
        bool indexed;
        int inserts;
        off_t room;
    };
    const Case cases[] = {
        // The statements fit into the pages the file has; writing them out at commit fails.
        {"the commit fails", false, 300, 0},
        // A statement fails on a new page; the commit then finds the transaction spoilt.
        {"a statement fails", true, 1000, 64 * 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        test::TempDir dir;
        SmallDisk disk(dir.File("disk"));
        const std::string path = disk.File("full.fdb");
        {
            // No key: an insert that arrived twice would show as a second row.
            const std::string create = "create table T (ID integer, NAME varchar(200))";
            const std::string rows = "insert into T select first " + std::to_string(kRows) +
                                     " row_number() over (), 'row' from rdb$fields";
            if (c.indexed)
                test::CreateDatabase(path, {create, "create index T_NAME on T (NAME)", rows});
            else
                test::CreateDatabase(path, {create, rows});
        }
        auto ds = test::OpenTable(path, "T");
        ASSERT_EQ(ds->RecordCount(), kRows);
        for (int i = 1; i <= kRows; ++i) {
            ds->SetRecNo(i);
            ds->Edit();
            ds->FieldByName("NAME").SetValue("changed 𠮷 " + std::to_string(i));
            ds->Post();
        }
        for (int i = 1; i <= c.inserts; ++i) {
            ds->Append();
            ds->FieldByName("ID").SetValue(std::int64_t(1000 + i));
            ds->FieldByName("NAME").SetValue(Incompressible(190, i));
            ds->Post();
        }
        const int pending = kRows + c.inserts;
        ASSERT_EQ(ds->ChangeCount(), pending);

        disk.Fill(path, c.room);
        try {
            ds->ApplyUpdates(-1);
            ADD_FAILURE() << "the apply succeeded on a full disk";
        } catch (const EDatabaseError& error) {
            std::printf("apply on a full disk: %s\n", error.what());
        }
        EXPECT_EQ(ds->ChangeCount(), pending);
        // The attachment's pages may disagree with the file now: the connection is closed.
        EXPECT_FALSE(ds->Connection().Connected());

        disk.Free();
        EXPECT_EQ(ds->ApplyUpdates(-1), 0);
        EXPECT_EQ(ds->ChangeCount(), 0);
        EXPECT_TRUE(ds->Connection().Connected());
        ds.reset();

        auto check = test::MakeConnection(path, "Check");
        std::unique_ptr<TSQLResultSet> rows;
        check->Execute("select count(*), count(distinct ID), min(ID), max(ID),"
                       " sum(iif(NAME starting with 'changed 𠮷', 1, 0)) from T",
                       {}, &rows);
        ASSERT_TRUE(rows->Next());
        EXPECT_EQ(rows->Reader().GetInt64(0), pending);
        EXPECT_EQ(rows->Reader().GetInt64(1), pending);
        EXPECT_EQ(rows->Reader().GetInt64(2), 1);
        EXPECT_EQ(rows->Reader().GetInt64(3), 1000 + c.inserts);
        EXPECT_EQ(rows->Reader().GetInt64(4), kRows);
    }
}

} // namespace
