#include "Errors.h"
#include "ProfileFile.h"
#include "TestSupport.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace sorvanto;
using Lines = std::vector<std::string>;

namespace {

void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The text as UTF-16 bytes, little or big endian, without a byte-order mark.
std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes;
    for (char16_t unit : text) {
        char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

std::string OpenErrorMessage(const std::string& fullPath, int error) {
    return "ファイル " + fullPath + " は開けません。 " + std::strerror(error) + " ";
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Decoding

TEST(ProfileFileDecode, ByteOrderMarkOrContentSelectsEncoding) {
    const std::u16string wide = u"[S]\r\nPath=C:\\データ\\𠮷.fdb";
    const std::string utf8 = "[S]\r\nPath=C:\\データ\\𠮷.fdb";
    struct Case {
        const char* label;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"UTF-8 without mark", utf8, utf8},
        {"UTF-8 mark is skipped", "\xEF\xBB\xBF" + utf8, utf8},
        {"UTF-8 mark, invalid byte replaced",
         "\xEF\xBB\xBF"
         "A=\xFF"
         "デ",
         "A=\uFFFDデ"},
        {"UTF-16 LE", "\xFF\xFE" + Utf16(wide, false), utf8},
        {"UTF-16 BE", "\xFE\xFF" + Utf16(wide, true), utf8},
        {"UTF-16 odd trailing byte dropped", "\xFF\xFE" + Utf16(u"A=1", false) + "B", "A=1"},
        {"UTF-16 unpaired surrogate", "\xFE\xFF" + Utf16(u"A=\xD800x", true), "A=\uFFFDx"},
        {"CP932", "A=\x83\x66\x81\x5B\x83\x5E", "A=データ"},
        {"CP932 trail byte 0x5C is no backslash", "C:\\\x95\x5C\\\x83\x5C\x83\x74\x83\x67.fdb",
         "C:\\表\\ソフト.fdb"},
        {"CP932 Windows characters", "\x81\x60\x87\x40\x81\x7C", "～①－"},
        {"CP932 bytes outside the code page", "\xFF\x83\x66\xA0\x80Z", "\uFFFDデ\uFFFD\uFFFDZ"},
        {"CP932 truncated at the end", "\x83\x66\x83", "デ\uFFFD"},
        {"only a UTF-8 mark", "\xEF\xBB\xBF", ""},
        {"only a UTF-16 mark", "\xFF\xFE", ""},
        {"nothing", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(DecodeProfileText(c.bytes), c.text);
    }
}

TEST(ProfileFileDecode, GarbageAlwaysGivesUtf8) {
    std::mt19937 random(20240917);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::string marks[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};
    for (int round = 0; round < 200; ++round) {
        std::string bytes = marks[round % 4];
        const int length = round * 7 % 513;
        for (int i = 0; i < length; ++i)
            bytes += static_cast<char>(byte(random));
        bool valid = IsValidUtf8(DecodeProfileText(bytes));
        const std::vector<TProfileFile::Section> sections = TProfileFile::Parse(bytes).Sections();
        for (const auto& section : sections) {
            valid = valid && IsValidUtf8(section.name);
            for (const std::string& line : section.lines)
                valid = valid && IsValidUtf8(line);
        }
        EXPECT_TRUE(valid) << "round " << round;
    }
}

// ---------------------------------------------------------------------------------------------
// Parsing

TEST(ProfileFileParse, SectionsEntriesCommentsAndTrimming) {
    const std::string text = "Database=ignored before any section\r\n"
                             "; a comment\r\n"
                             "[ SQLConnection1 ]\r\n"
                             "  Database = C:\\DATA\\DOC.FDB \r\n"
                             "\tUser_Name\t=\tSYSDBA\x01\r\n"
                             "  ; indented comment\r\n"
                             "\r\n"
                             "   \t \r\n"
                             "Params = a = b\r\n"
                             "Password =\r\n"
                             "= no name\r\n"
                             "  plain line  \r\n"
                             "[unclosed\r\n"
                             "Role=A;not a comment\r\n"
                             "database=second\r\n"
                             "[Other]\r\n"
                             "Database=other.fdb";
    const TProfileFile file = TProfileFile::Parse(text);
    ASSERT_EQ(file.Sections().size(), 2u);
    EXPECT_EQ(file.Sections()[0].name, "SQLConnection1");
    EXPECT_EQ(file.Sections()[0].lines,
              (Lines{"Database=C:\\DATA\\DOC.FDB", "User_Name=SYSDBA", "Params=a = b",
                     "Password=", "=no name", "plain line", "[unclosed", "Role=A;not a comment",
                     "database=second"}));
    EXPECT_EQ(file.Sections()[1].name, "Other");
    EXPECT_EQ(file.Sections()[1].lines, (Lines{"Database=other.fdb"}));
}

TEST(ProfileFileParse, LineEnds) {
    struct Case {
        const char* label;
        std::string text;
    };
    const Case cases[] = {
        {"CR LF", "[S]\r\nA=1\r\nB=2\r\n"},
        {"LF", "[S]\nA=1\nB=2\n"},
        {"CR", "[S]\rA=1\rB=2\r"},
        {"mixed", "[S]\rA=1\nB=2\r\n"},
        {"no final line end", "[S]\nA=1\nB=2"},
        {"empty lines between", "\r\n[S]\r\r\n\nA=1\n\r\rB=2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(TProfileFile::Parse(c.text).SectionLines("S"), (Lines{"A=1", "B=2"}));
    }
}

TEST(ProfileFileParse, Utf16FileSplitsIntoLinesAfterDecoding) {
    const std::u16string text = u"[接続]\r\nDatabase = C:\\データ.fdb\r\n\x0100=x";
    for (bool bigEndian : {false, true}) {
        const std::string bytes = (bigEndian ? "\xFE\xFF" : "\xFF\xFE") + Utf16(text, bigEndian);
        EXPECT_EQ(TProfileFile::Parse(bytes).SectionLines("接続"),
                  (Lines{"Database=C:\\データ.fdb", "\u0100=x"}))
            << (bigEndian ? "big endian" : "little endian");
    }
}

TEST(ProfileFileParse, SectionLookupIgnoresCaseAndTakesTheLastOfAName) {
    const TProfileFile file = TProfileFile::Parse("[conn]\nA=1\nB=1\n"
                                                  "[Other]\nX=1\n"
                                                  "[CONN]\nA=2\nA=3\n");
    EXPECT_EQ(file.Sections().size(), 3u);
    EXPECT_EQ(file.SectionLines("Conn"), (Lines{"A=2", "A=3"})); // not merged, duplicates kept
    EXPECT_EQ(file.SectionLines("other"), (Lines{"X=1"}));
    EXPECT_EQ(file.SectionLines("con"), std::nullopt);
    EXPECT_EQ(file.SectionLines(""), std::nullopt);

    // An empty section is found and has no lines.
    EXPECT_EQ(TProfileFile::Parse("[Empty]\n[Next]\nA=1").SectionLines("empty"), Lines{});
}

TEST(ProfileFileParse, BadInputGivesSensibleResults) {
    // No sections at all.
    for (const std::string& text :
         {std::string("A=1\nB=2"), std::string("\xEF\xBB\xBF"), std::string("\xFF\xFE"),
          std::string("\xFE\xFF\x00", 3), std::string("; only\n;comments"), std::string("[S")}) {
        EXPECT_TRUE(TProfileFile::Parse(text).Sections().empty());
    }

    // NUL bytes: control characters at the ends of a line are trimmed, inner ones kept.
    const char raw[] = "[S]\n\0A=x\0y\0\0\n";
    const std::string withNul(raw, sizeof raw - 1);
    EXPECT_EQ(TProfileFile::Parse(withNul).SectionLines("S"), (Lines{std::string("A=x\0y", 5)}));

    // An invalid UTF-8 byte turns the whole file into CP932.
    EXPECT_EQ(TProfileFile::Parse("[S]\nA=\x83\x66\x81\x5B\x83\x5E\nB=\xFF").SectionLines("S"),
              (Lines{"A=データ", "B=\uFFFD"}));
}

TEST(ProfileFileParse, VeryLongLinesComeThroughWhole) {
    const std::string big(1 << 20, 'a');
    EXPECT_EQ(TProfileFile::Parse("[S]\nBig=" + big + "\nNext=1").SectionLines("S"),
              (Lines{"Big=" + big, "Next=1"}));

    // A CP932 line far longer than any conversion buffer, characters crossing every boundary.
    std::string cp932 = "[S]\r\nBig=";
    std::string expected = "Big=";
    for (int i = 0; i < 200000; ++i) {
        cp932 += (i % 3 == 0) ? "\x83\x66\x81\x5B\x83\x5E" : "x\x83\x66";
        expected += (i % 3 == 0) ? "データ" : "xデ";
    }
    EXPECT_EQ(TProfileFile::Parse(cp932).SectionLines("S"), (Lines{expected}));
}

// ---------------------------------------------------------------------------------------------
// Reading files

TEST(ProfileFileRead, ReadsTheFileAndTreatsAMissingOneAsEmpty) {
    test::TempDir dir;
    const std::string path = dir.File("connections.ini");
    WriteFile(path, "[S]\r\nDatabase=C:\\\x83\x66\x81\x5B\x83\x5E.fdb\r\n");
    const TProfileFile file = TProfileFile::Read(path);
    EXPECT_TRUE(file.Exists());
    EXPECT_EQ(file.SectionLines("s"), (Lines{"Database=C:\\データ.fdb"}));

    WriteFile(dir.File("empty.ini"), "");
    EXPECT_TRUE(TProfileFile::Read(dir.File("empty.ini")).Exists());

    for (const std::string& missing :
         {dir.File("missing.ini"), dir.File("no-folder/x.ini"), path + "/x.ini"}) {
        SCOPED_TRACE(missing);
        const TProfileFile none = TProfileFile::Read(missing);
        EXPECT_FALSE(none.Exists());
        EXPECT_TRUE(none.Sections().empty());
    }
}

TEST(ProfileFileRead, UnreadableFileRaisesOpenErrorWithFullPath) {
    test::TempDir dir;
    const std::string folder = dir.File("folder.ini");
    std::filesystem::create_directory(folder);
    const std::string full = std::filesystem::canonical(folder).string();
    const std::string relative =
        std::filesystem::relative(folder, std::filesystem::current_path()).string();
    for (const std::string& given : {folder, relative}) {
        SCOPED_TRACE(given);
        try {
            TProfileFile::Read(given);
            ADD_FAILURE() << "no error raised";
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.Message(), OpenErrorMessage(full, EISDIR));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Loading the parameters of a connection

class LoadParams : public ::testing::Test {
protected:
    void SetUp() override {
        connection = NewConnection();
        WriteFile(profile, "[SQLConnection1]\n"
                           "Database=C:\\first.fdb\n"
                           "[sqlconnection1]\n"
                           "DriverName=Other\n"
                           "VendorLib=other.dll\n"
                           "LibraryName=other.so\n"
                           "Database = C:\\DATA\\DOC.FDB\n"
                           "User_Name=SYSDBA\n"
                           "plain\n"
                           "user_name=second\n"
                           "[Second]\n"
                           "Database=second.fdb\n");
    }

    static std::unique_ptr<TSQLConnection> NewConnection() {
        auto made = test::MakeConnection("C:\\old.fdb");
        made->LibraryName = "dbxfb.dll";
        made->SetConnectionName("SQLConnection1");
        return made;
    }

    Lines Params() const { return connection->Params().Lines(); }

    // The connection is left exactly as it was.
    void ExpectUnchanged() const {
        EXPECT_FALSE(connection->ParamsLoaded);
        EXPECT_EQ(Params(), (Lines{"Database=C:\\old.fdb", "User_Name=SYSDBA"}));
    }

    test::TempDir dir;
    const std::string profile = dir.File("connections.ini");
    std::unique_ptr<TSQLConnection> connection;
};

TEST_F(LoadParams, ReplacesParamsWithTheLastMatchingSection) {
    connection->LoadParamsFromIniFile(profile);
    EXPECT_TRUE(connection->ParamsLoaded);
    EXPECT_EQ(Params(), (Lines{"DriverName=Other", "VendorLib=other.dll", "LibraryName=other.so",
                               "Database=C:\\DATA\\DOC.FDB", "User_Name=SYSDBA", "plain",
                               "user_name=second"}));
    // Lines of those names in the section leave the driver properties alone.
    EXPECT_EQ(connection->DriverName(), "Firebird");
    EXPECT_EQ(connection->VendorLib, "fbclient.dll");
    EXPECT_EQ(connection->LibraryName, "dbxfb.dll");
}

TEST_F(LoadParams, MissingSectionEmptiesParams) {
    connection->SetConnectionName("NoSuchConnection");
    connection->Params().Add("Database=C:\\old.fdb");
    connection->LoadParamsFromIniFile(profile);
    EXPECT_TRUE(connection->ParamsLoaded);
    EXPECT_EQ(Params(), Lines{});
}

TEST_F(LoadParams, DoesNothingOnceLoaded) {
    connection->ParamsLoaded = true;
    connection->LoadParamsFromIniFile(profile);
    EXPECT_EQ(Params(), (Lines{"Database=C:\\old.fdb", "User_Name=SYSDBA"}));

    // Not even a missing file or a missing connection name is looked at.
    connection->LoadParamsFromIniFile(dir.File("missing.ini"));
    connection->SetConnectionName("");
    connection->ParamsLoaded = true;
    connection->LoadParamsFromIniFile(dir.Path());
    EXPECT_TRUE(connection->ParamsLoaded);
    EXPECT_EQ(Params(), (Lines{"Database=C:\\old.fdb", "User_Name=SYSDBA"}));
}

TEST_F(LoadParams, FailuresLeaveParamsAndFlagAsTheyWere) {
    const std::string missing = dir.File("missing.ini");
    try {
        connection->LoadParamsFromIniFile(missing);
        ADD_FAILURE() << "no error for a missing file";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(),
                  "ドライバ/接続レジストリファイル '" + missing + "' が見つかりません");
    }
    ExpectUnchanged();

    try {
        connection->LoadParamsFromIniFile(dir.Path());
        ADD_FAILURE() << "no error for a folder";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), OpenErrorMessage(std::filesystem::canonical(dir.Path()), EISDIR));
    }
    ExpectUnchanged();

    connection->SetConnectionName("");
    try {
        connection->LoadParamsFromIniFile(profile);
        ADD_FAILURE() << "no error without a connection name";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "接続名がありません");
    }
    ExpectUnchanged();
}

TEST_F(LoadParams, OnlyARegularFileUpToTheLimitIsRead) {
    const std::string header = "[SQLConnection1]\nDatabase=C:\\limit.fdb\n;";
    auto padded = [&](std::size_t size) { return header + std::string(size - header.size(), 'x'); };
    const std::string fifo = dir.File("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    ASSERT_EQ(::symlink("/dev/zero", dir.File("zero.ini").c_str()), 0) << std::strerror(errno);
    std::filesystem::create_directory(dir.File("folder.ini"));
    WriteFile(dir.File("over.ini"), padded(TProfileFile::kMaxSize + 1));
    WriteFile(dir.File("limit.ini"), padded(TProfileFile::kMaxSize));

    const std::string notRegular = "通常のファイルではありません";
    const std::string tooLarge = "ファイルが大きすぎます (上限 1048576 バイト)";
    struct Case {
        const char* file;
        std::string reason; // empty: read
    };
    const Case cases[] = {
        {"fifo.ini", notRegular}, // a FIFO without a writer: no wait
        {"zero.ini", notRegular}, // a link to an endless device
        {"folder.ini", std::strerror(EISDIR)},
        {"over.ini", tooLarge},
        {"limit.ini", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = dir.File(c.file);
        connection = NewConnection();
        // Should the read wait on the FIFO after all, a writer that comes and goes ends the wait
        // and the test fails instead of hanging.
        auto load = std::async(std::launch::async, [&] {
            try {
                connection->LoadParamsFromIniFile(path);
                return std::string();
            } catch (const EFOpenError& e) {
                return e.Message();
            }
        });
        if (load.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << "the read waits on the file";
            ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));
        }
        const std::string message = load.get();
        if (c.reason.empty()) {
            EXPECT_EQ(message, "");
            EXPECT_EQ(Params(), (Lines{"Database=C:\\limit.fdb"}));
        } else {
            EXPECT_EQ(message, "ファイル " + path + " は開けません。 " + c.reason + " ");
            ExpectUnchanged();
        }
    }
}

TEST_F(LoadParams, WithoutAFileNameReadsTheDefaultProfileFile) {
    test::ScopedEnv setting("SORVANTO_CONNECTIONS_FILE", profile.c_str());
    auto other = test::MakeConnection("C:\\old.fdb");
    ASSERT_EQ(other->DefaultProfileFile(), profile);
    other->SetConnectionName("second");
    other->LoadParamsFromIniFile();
    EXPECT_EQ(other->Params().Lines(), (Lines{"Database=second.fdb"}));

    const std::string missing = dir.File("default.ini");
    test::ScopedEnv missingSetting("SORVANTO_CONNECTIONS_FILE", missing.c_str());
    auto third = test::MakeConnection("C:\\old.fdb");
    third->SetConnectionName("Second");
    try {
        third->LoadParamsFromIniFile("");
        ADD_FAILURE() << "no error for a missing default file";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(),
                  "ドライバ/接続レジストリファイル '" + missing + "' が見つかりません");
    }
}

TEST_F(LoadParams, ChangingTheConnectionNameCallsForANewLoad) {
    connection->LoadParamsFromIniFile(profile);
    const Lines loaded = Params();

    connection->SetConnectionName("SQLConnection1"); // the same name changes nothing
    EXPECT_TRUE(connection->ParamsLoaded);
    EXPECT_EQ(Params(), loaded);

    connection->SetConnectionName("SQLCONNECTION1"); // another spelling is another name
    EXPECT_FALSE(connection->ParamsLoaded);
    EXPECT_EQ(Params(), loaded);
    EXPECT_EQ(connection->ConnectionName(), "SQLCONNECTION1");

    connection->SetConnectionName("Second");
    connection->LoadParamsFromIniFile(profile);
    EXPECT_EQ(Params(), (Lines{"Database=second.fdb"}));
}

TEST_F(LoadParams, EmptyNameWithoutDriverClearsDriverSettings) {
    struct Case {
        const char* label;
        const char* driver;
        const char* newName;
        bool cleared;
    };
    const Case cases[] = {
        {"no driver, empty name", "", "", true},
        {"driver set, empty name", "Firebird", "", false},
        {"no driver, a name", "", "Second", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        connection = NewConnection();
        connection->SetDriverName(c.driver);
        connection->ParamsLoaded = true;
        connection->SetConnectionName(c.newName);
        EXPECT_FALSE(connection->ParamsLoaded);
        EXPECT_EQ(connection->VendorLib.empty(), c.cleared);
        EXPECT_EQ(connection->LibraryName.empty(), c.cleared);
        EXPECT_EQ(connection->Params().Count() == 0, c.cleared);
    }
}

TEST_F(LoadParams, SetParamsCopiesTheLines) {
    TParamList replacement{"Database=C:\\new.fdb", "plain", "DATABASE=again"};
    connection->SetParams(replacement);
    replacement.Clear();
    EXPECT_EQ(Params(), (Lines{"Database=C:\\new.fdb", "plain", "DATABASE=again"}));
    connection->SetParams(connection->Params());
    EXPECT_EQ(Params(), (Lines{"Database=C:\\new.fdb", "plain", "DATABASE=again"}));
}
