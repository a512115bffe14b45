#include "ParamList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sorvanto;

namespace {

std::vector<std::string> Lines(const TParamList& list) {
    return list.Lines();
}

} // namespace

TEST(ParamList, LookupSplitsAtFirstEqualsAndIgnoresCase) {
    const TParamList list{"DriverName=Firebird",   "Standalone", " Spaced = v ",
                          "Params=a=b=c",          "Database=",  "drivername=Other",
                          "Password= secret word "};
    struct Case {
        const char* name;
        int index;
        const char* value;
    };
    const Case cases[] = {
        {"DriverName", 0, "Firebird"},
        {"DRIVERNAME", 0, "Firebird"}, // first of two lines differing in case
        {"Standalone", -1, ""},        // a line without "=" has no name
        {" Spaced ", 2, " v "},        // names and values are not trimmed
        {"Spaced", -1, ""},
        {"Params", 3, "a=b=c"},
        {"database", 4, ""},
        {"Password", 6, " secret word "},
        {"Data", -1, ""}, // a prefix of a name is not the name
        {"DriverNameX", -1, ""},
        {"Missing", -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(list.IndexOfName(c.name), c.index);
        EXPECT_EQ(list.ValueOfName(c.name), c.value);
    }
    EXPECT_EQ(list.Count(), 7); // lookups leave every line in place
}

TEST(ParamList, SetValueOfName) {
    struct Case {
        const char* label;
        std::vector<std::string> before;
        const char* name;
        const char* value;
        std::vector<std::string> after;
    };
    const Case cases[] = {
        {"replaces the first match in place, spelled as the caller spells it",
         {"DriverName=Firebird", "x=1", "drivername=Other"},
         "drivername",
         "Firebird",
         {"drivername=Firebird", "x=1", "drivername=Other"}},
        {"appends when no line has the name",
         {"x=1", "y=2"},
         "drivername",
         "Firebird",
         {"x=1", "y=2", "drivername=Firebird"}},
        {"a line without \"=\" is not a line of that name",
         {"Database", "x=1"},
         "Database",
         "C:\\DATA\\DOC.FDB",
         {"Database", "x=1", "Database=C:\\DATA\\DOC.FDB"}},
        {"value kept as given", {"Params=old"}, "PARAMS", " a=b ", {"PARAMS= a=b "}},
        {"empty value removes only the first line of the name",
         {"Database=a", "x=1", "DATABASE=b"},
         "database",
         "",
         {"x=1", "DATABASE=b"}},
        {"empty value removes a line whose value is already empty",
         {"Database=", "x=1"},
         "Database",
         "",
         {"x=1"}},
        {"empty value and no such line changes nothing",
         {"x=1", "Database"},
         "Database",
         "",
         {"x=1", "Database"}},
        {"empty value on an empty list", {}, "Database", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TParamList list;
        for (const std::string& line : c.before)
            list.Add(line);
        list.SetValueOfName(c.name, c.value);
        EXPECT_EQ(Lines(list), c.after);
    }
}

TEST(ParamList, AddStringsAppendsInOrderAndClearEmpties) {
    TParamList list{"a=1", "b"};
    const TParamList more{"c=3", "A=again", "d"};
    list.AddStrings(more);
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"a=1", "b", "c=3", "A=again", "d"}));
    EXPECT_EQ(list.ValueOfName("a"), "1");
    EXPECT_EQ(Lines(more), (std::vector<std::string>{"c=3", "A=again", "d"}));

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.IndexOfName("a"), -1);
}
