// Text in every character set of the engine: read and written as the engine reads and writes
// it, a character that a set cannot hold refused where it is typed, and bytes that are not
// characters shown marked, never editable and never rewritten.
#include "CharacterSets.h"
#include "Errors.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace sorvanto;

namespace {

std::string Hex(std::string_view bytes) {
    std::string out;
    char b[3];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02X", c);
        out += b;
    }
    return out;
}

std::string Unhex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

std::size_t CodePoints(std::string_view utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8)
        n += (c & 0xC0) != 0x80;
    return n;
}

const TCharSet& Set(const char* name) {
    const TCharSet* set = CharSetByName(name);
    EXPECT_NE(set, nullptr) << name;
    return set ? *set : *CharSetById(kCharSetUtf8);
}

TEST(CharacterSetCodec, ReadsAndWritesEachSetExactly) {
    struct Case {
        const char* set;
        const char* text;
        const char* bytes; // hexadecimal
    };
    const Case cases[] = {
        {"SJIS_0208", "検索語ﾃｽﾄ", "8C9F8DF58CEAC3BDC4"},
        {"SJIS_0208", "C:¥DATA \\ ‾", "433A5C4441544120815F207E"}, // as the engine has them
        {"EUCJ_0208", "検索語", "B8A1BAF7B8EC"},
        {"WIN1252", "Grüße €", "4772FCDF652080"},
        {"ISO8859_1", "Grüße", "4772FCDF65"},
        {"KOI8R", "Привет", "F0D2C9D7C5D4"},
        {"GB18030", "中文𠮷", "D6D0CEC49534B235"},
        {"UTF8", "𠮷野家", "F0A0AEB7E9878EE5AEB6"},
        {"NONE", "日本", "E697A5E69CAC"},
        {"NEXT", "ascii", "6173636969"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.set) + " " + c.text);
        const std::string bytes = Unhex(c.bytes);
        std::string text, encoded;
        char32_t refused = 0;
        EXPECT_TRUE(DecodeText(Set(c.set), bytes, text));
        EXPECT_EQ(text, c.text);
        EXPECT_TRUE(EncodeText(Set(c.set), c.text, encoded, refused));
        EXPECT_EQ(Hex(encoded), c.bytes);
    }
}

TEST(CharacterSetCodec, RefusesWhatASetCannotHoldAndMarksBytesThatAreNoCharacters) {
    struct Refusal {
        const char* set;
        const char* text;
        char32_t refused;
    };
    const Refusal refusals[] = {
        {"SJIS_0208", "野家𠮷", 0x20BB7},
        {"SJIS_0208", "a＼b", 0xFF3C},       // the engine reads its bytes as "\"
        {"SJIS_0208", "a~", 0x7E},           // the engine reads its byte as "‾"
        {"EUCJ_0208", "全角とﾊﾝｶｸ", 0xFF8A}, // no half-width kana in the engine's set
        {"EUCJ_0208", "丂", 0x4E02},         // JIS X 0212: longer than the set's characters
        {"WIN1252", "Müller 日", 0x65E5},
        {"ISO8859_1", "5 €", 0x20AC},
        {"UNICODE_FSS", "𠮷", 0x20BB7},
        {"NEXT", "é", 0xE9},
        {"KOI8U", "╝", 0x255D}, // the engine reads that byte as another letter
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(std::string(r.set) + " " + r.text);
        std::string out;
        char32_t refused = 0;
        EXPECT_FALSE(EncodeText(Set(r.set), r.text, out, refused));
        EXPECT_EQ(refused, r.refused);
    }
    EXPECT_EQ(RefusedCharacterText(0x20BB7, Set("SJIS_0208")),
              "文字 '𠮷' (U+20BB7) は文字セット SJIS_0208 にありません");

    struct Unread {
        const char* set;
        const char* bytes;
        const char* shown;
    };
    const Unread unread[] = {
        {"SJIS_0208", "FF41", "\uFFFDA"},
        {"SJIS_0208", "41EB40", "A\uFFFD@"}, // a byte that leads no character, and "@"
        {"EUCJ_0208", "8EB1", "\uFFFD"},     // one character the engine does not have
        {"EUCJ_0208", "8FB0A1", "\uFFFD"},
        {"WIN1252", "4181", "A\uFFFD"},
        {"UTF8", "C328", "\uFFFD("},
        {"NONE", "FFFE", "\uFFFD\uFFFD"},
        {"UNICODE_FSS", "F0A0AEB7", "\uFFFD"},
    };
    for (const Unread& u : unread) {
        SCOPED_TRACE(std::string(u.set) + " " + u.bytes);
        std::string text;
        EXPECT_FALSE(DecodeText(Set(u.set), Unhex(u.bytes), text));
        EXPECT_EQ(text, u.shown);
    }
}

// Every character our converter reads from bytes is the character the engine reads from them,
// and goes back to those bytes: measured for every single byte and every pair of bytes.
TEST(CharacterSetCodec, EveryConverterReadsItsSetAsTheEngineDoes) {
    test::TempDir dir;
    const std::string db = dir.File("sets.fdb");
    test::CreateDatabase(db, {}, "NONE");
    auto connection = test::MakeConnection(db);
    for (const TCharSet& set : AllCharSets()) {
        if (!set.converter)
            continue;
        SCOPED_TRACE(std::string(set.name));
        const bool pairs = set.bytesPerCharacter > 1;
        const std::string loop =
            pairs ? "declare l integer = 128; declare t integer; begin while (l < 256) do begin "
                    "t = 0; while (t < 256) do begin s = ascii_char(l) || ascii_char(t); READ "
                    "t = t + 1; end l = l + 1; end end"
                  : "declare l integer = 0; begin while (l < 256) do begin s = ascii_char(l); READ "
                    "l = l + 1; end end";
        const std::string read =
            "b = cast(s as varchar(2) character set octets); u = null; begin u = cast(cast(cast(s "
            "as varchar(2) character set " +
            std::string(set.name) +
            ") as varchar(4) character set utf8) as varchar(8) character set octets); when any "
            "do u = null; end suspend;";
        std::string block = "execute block returns (b varchar(2) character set octets, u "
                            "varchar(8) character set octets) as declare s varchar(2) character "
                            "set none; " +
                            loop;
        block.replace(block.find("READ"), 4, read);
        std::unique_ptr<TSQLResultSet> rows;
        connection->Execute(block, {}, &rows);
        int accepted = 0, disagreements = 0;
        std::string text, back;
        while (rows->Next()) {
            TDrvReader& r = rows->Reader();
            const std::string bytes(r.GetBytes(0));
            if (!DecodeText(set, bytes, text) || CodePoints(text) != 1)
                continue;
            ++accepted;
            char32_t refused = 0;
            const std::string engine = r.IsNull(1) ? "(refused)" : Hex(r.GetBytes(1));
            if ((engine != Hex(text) || !EncodeText(set, text, back, refused) || back != bytes) &&
                ++disagreements <= 5)
                ADD_FAILURE() << Hex(bytes) << ": ours " << Hex(text) << ", the engine's "
                              << engine;
        }
        EXPECT_EQ(disagreements, 0);
        // The converter is there and reads the set: ASCII at least, and far more in pairs.
        EXPECT_GE(accepted, pairs ? 1000 : 128);
    }
}

// One column of each character set, read and written under no ServerCharSet, under the
// column's own and under UTF8, as a second attachment in UTF8 (what isql-fb -ch UTF8 shows)
// sees it.
struct ColumnCase {
    const char* set;
    const char* stored;  // a value put there by another client
    const char* typed;   // an edit: kanji, half-width kana, accented letters as the set allows
    const char* refused; // a character the set cannot hold; null when it holds every one
    const char* unread;  // bytes that are no characters of the set (hex); null when it has none
};

const ColumnCase kColumnCases[] = {
    {"SJIS_0208", "検索語", "二回目ﾃｽﾄ半角", "𠮷", "EB40"},
    {"EUCJ_0208", "検索語", "二回目の文書", "ｱ", "8EB1"},
    {"WIN1252", "Grüße", "Müller €", "日", "81"},
    {"ISO8859_1", "Grüße", "Müller ½", "€", nullptr},
    {"UTF8", "検索語", "𠮷野家ﾃｽﾄ Grüße", nullptr, nullptr},
    {"NONE", "検索語", "二回目", nullptr, "FFFE"},
};

void PrintTo(const ColumnCase& c, std::ostream* out) {
    *out << c.set;
}

class CharacterSetMatrix : public ::testing::TestWithParam<ColumnCase> {
protected:
    void SetUp() override {
        const ColumnCase& c = GetParam();
        db = dir.File("set.fdb");
        test::CreateDatabase(db, {"create table T (N integer not null primary key, V varchar(20) "
                                  "character set " +
                                  std::string(c.set) + ", NOTE varchar(10))"});
        utf8 = test::MakeConnection(db, "Utf8");
        utf8->Params().Add("ServerCharSet=UTF8");
        raw = test::MakeConnection(db, "Raw");
        utf8->Execute("insert into T values (1, ?, 'a')", {std::string(c.stored)});
        if (c.unread)
            raw->Execute("insert into T values (2, cast(x'" + std::string(c.unread) +
                             "' as varchar(20) character set " + std::string(c.set) + "), 'b')",
                         {});
    }
    // V of row n as the UTF8 attachment reads it, and as bytes.
    std::string Shown(int n) {
        std::unique_ptr<TSQLResultSet> rows;
        utf8->Execute("select V from T where N = ?", {std::int64_t(n)}, &rows);
        EXPECT_TRUE(rows->Next());
        return std::get<std::string>(rows->Reader().GetValue(0));
    }
    std::string Stored(int n) {
        std::unique_ptr<TSQLResultSet> rows;
        raw->Execute("select cast(V as varchar(80) character set octets) from T where N = ?",
                     {std::int64_t(n)}, &rows);
        EXPECT_TRUE(rows->Next());
        return Hex(rows->Reader().GetBytes(0));
    }

    test::TempDir dir;
    std::string db;
    std::unique_ptr<TSQLConnection> utf8, raw;
};

TEST_P(CharacterSetMatrix, EveryAttachmentReadsAndWritesTheColumnExactly) {
    const ColumnCase& c = GetParam();
    const std::string own = std::string(c.set) == "NONE" ? "NONE" : c.set;
    for (const std::string& attachment : {std::string(), own, std::string("UTF8")}) {
        SCOPED_TRACE("ServerCharSet=" + attachment);
        auto ds = test::MakeTable(db, "T");
        if (!attachment.empty())
            ds->Connection().Params().Add("ServerCharSet=" + attachment);
        ds->Open();
        TField& v = ds->FieldByName("V");
        EXPECT_EQ(std::get<std::string>(v.Value()), c.stored);

        // An edit arrives as typed.
        ds->Edit();
        v.SetValue(std::string(c.typed));
        ds->Post();
        EXPECT_EQ(ds->ApplyUpdates(-1), 0) << ds->WindowRecordRefusal(0);
        EXPECT_EQ(Shown(1), c.typed);

        // A character the column cannot hold is refused where it is written, naming it and the
        // column's set, whatever set it travels in.
        if (c.refused) {
            ds->Edit();
            try {
                v.SetValue(std::string("x") + c.refused);
                ADD_FAILURE() << "accepted " << c.refused;
            } catch (const Exception& error) {
                EXPECT_NE(error.Message().find(std::string("文字 '") + c.refused + "'"),
                          std::string::npos)
                    << error.Message();
                EXPECT_NE(error.Message().find(std::string("文字セット ") + c.set),
                          std::string::npos)
                    << error.Message();
            }
            ds->Cancel();
            EXPECT_EQ(Shown(1), c.typed);
        }

        // Bytes that are no characters: shown marked, not editable, never written back.
        if (c.unread) {
            const std::string before = Stored(2);
            ASSERT_EQ(ds->RecordCount(), 2);
            ds->SetRecNo(2);
            EXPECT_NE(std::get<std::string>(v.Value()).find("\uFFFD"), std::string::npos);
            EXPECT_NE(ds->FieldNotEditable(v).find("読めない"), std::string::npos);
            ds->Edit();
            EXPECT_THROW(v.SetValue(std::string("y")), EDatabaseError);
            // Another cell of the row can be changed; its row is found by the bytes as stored.
            // Through UTF8 the engine has the value only as U+FFFD, which it cannot turn back
            // into the column's bytes: that change stays pending, and nothing is lost.
            ds->FieldByName("NOTE").SetValue(std::string("changed"));
            ds->Post();
            const bool findable = attachment != "UTF8" || own == "NONE" || own == "UTF8";
            EXPECT_EQ(ds->ApplyUpdates(-1), findable ? 0 : 1);
            EXPECT_EQ(Stored(2), before);
            std::unique_ptr<TSQLResultSet> note;
            utf8->Execute("select NOTE from T where N = 2", {}, &note);
            ASSERT_TRUE(note->Next());
            EXPECT_EQ(std::get<std::string>(note->Reader().GetValue(0)),
                      findable ? "changed" : "b");
            note.reset();
            utf8->Execute("update T set NOTE = 'b' where N = 2", {});
        }
        ds->Close();
        // The next round starts from the stored value again.
        utf8->Execute("update T set V = ?, NOTE = 'a' where N = 1", {std::string(c.stored)});
    }
}

INSTANTIATE_TEST_SUITE_P(EachSet, CharacterSetMatrix, ::testing::ValuesIn(kColumnCases),
                         [](const auto& test) {
                             std::string name = test.param.set;
                             std::erase(name, '_');
                             return name;
                         });

TEST(CharacterSetColumns, ShiftJisBytesInANoneColumnReadInTheAttachmentsSet) {
    test::TempDir dir;
    const std::string db = dir.File("legacy.fdb");
    test::CreateDatabase(db, {"create table T (N integer not null primary key, V varchar(20))"},
                         "NONE");
    auto check = test::MakeConnection(db, "Check");
    check->Execute("insert into T values (1, cast(x'8C9F8DF58CEA' as varchar(20)))", {});
    auto ds = test::MakeTable(db, "T");
    ds->Connection().Params().Add("ServerCharSet=SJIS_0208");
    ds->Open();
    EXPECT_EQ(std::get<std::string>(ds->FieldByName("V").Value()), "検索語");
    ds->Edit();
    ds->FieldByName("V").SetValue(std::string("二回目ﾃｽﾄ"));
    ds->Post();
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    std::unique_ptr<TSQLResultSet> rows;
    check->Execute("select cast(V as varchar(20) character set octets) from T", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(Hex(rows->Reader().GetBytes(0)), "93F189F196DAC3BDC4");
    // The column holds twenty bytes: eleven kanji take 22, however few characters they are.
    ds->Edit();
    EXPECT_THROW(ds->FieldByName("V").SetValue(std::string("一二三四五六七八九十一")),
                 ETableEngineError);
    ds->Cancel();
}

TEST(CharacterSetColumns, ACharValueShowsItsPaddingRightAfterTheApply) {
    test::TempDir dir;
    const std::string db = dir.File("char.fdb");
    test::CreateDatabase(db, {"create table T (N integer not null primary key, "
                              "C char(6), S char(4) character set SJIS_0208)",
                              "insert into T values (1, 'x', 'y')"});
    for (const char* set : {"", "UTF8", "SJIS_0208"}) {
        SCOPED_TRACE(set);
        auto ds = test::MakeTable(db, "T");
        if (*set)
            ds->Connection().Params().Add(std::string("ServerCharSet=") + set);
        ds->Open();
        ds->Edit();
        ds->FieldByName("C").SetValue(std::string("ab"));
        ds->FieldByName("S").SetValue(std::string("日本"));
        ds->Post();
        EXPECT_EQ(ds->ApplyUpdates(-1), 0);
        EXPECT_EQ(std::get<std::string>(ds->FieldByName("C").Value()), "ab    ");
        EXPECT_EQ(std::get<std::string>(ds->FieldByName("S").Value()), "日本  ");
        // Read again: the same, so typing the value again changes nothing.
        ds->Close();
        ds->Open();
        EXPECT_EQ(std::get<std::string>(ds->FieldByName("C").Value()), "ab    ");
        EXPECT_EQ(std::get<std::string>(ds->FieldByName("S").Value()), "日本  ");
        ds->Edit();
        ds->FieldByName("C").SetValue(std::string("ab"));
        ds->Post();
        EXPECT_EQ(ds->ChangeCount(), 0);
    }
}

TEST(FloatColumns, ARowHoldingNaNOrAnInfinityIsUpdatedAndDeleted) {
    test::TempDir dir;
    const std::string db = dir.File("nan.fdb");
    test::CreateDatabase(db, {"create table T (N integer, D double precision, F float, "
                              "NAME varchar(10))"});
    auto other = test::MakeConnection(db, "Other");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    int n = 1;
    for (double d : {nan, inf, -inf})
        other->Execute("insert into T values (?, ?, ?, 'row')", {std::int64_t(n++), d, d});
    auto ds = test::OpenTable(db, "T");
    ASSERT_EQ(ds->RecordCount(), 3);
    for (int row = 1; row <= 3; ++row) {
        ds->SetRecNo(row);
        ds->Edit();
        ds->FieldByName("NAME").SetValue(std::string("changed"));
        ds->Post();
    }
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    std::unique_ptr<TSQLResultSet> rows;
    other->Execute("select count(*) from T where NAME = 'changed'", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetInt64(0), 3);
    while (ds->RecordCount() > 0)
        ds->Delete();
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    other->Execute("select count(*) from T", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetInt64(0), 0);
}

} // namespace
