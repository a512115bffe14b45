// libFuzzer target for the typed-text conversion of every column kind. The first byte picks the
// field, the second the user's locale (ja_JP, en_US, C); the rest, as UTF-8, is typed into the
// field of a record being edited. A refused text must leave the field as it was; an accepted one
// must be shown as a text that reads back as the same value (numbers after their kind's
// rounding, text cut to the field's size in characters, never split).
#include "DataSet.h"
#include "Errors.h"
#include "FieldText.h"
#include "TableEngine.h"

#include <QLocale>
#include <QString>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace sorvanto;

namespace {

// One record of every kind, held in memory; values are checked by the table engine as the
// cached table dataset checks them.
class TFuzzDataSet : public TDataSet {
public:
    explicit TFuzzDataSet(std::vector<TFieldDef> defs)
        : TDataSet("FuzzDataSet"), defs_(std::move(defs)), values_(defs_.size()) {
        engine_.Load(TRowStore(defs_));
    }

protected:
    void InternalOpen() override { CreateFields(defs_); }
    void InternalClose() override {}
    bool GetFirst(TRecordPos& pos) override { return pos = 0, true; }
    bool GetLast(TRecordPos& pos) override { return pos = 0, true; }
    bool GetNext(TRecordPos, TRecordPos&) override { return false; }
    bool GetPrior(TRecordPos, TRecordPos&) override { return false; }
    TValue GetRecordValue(TRecordPos, int field) const override {
        return values_.at(static_cast<std::size_t>(field));
    }
    TRecordPos InternalPost(TRecordPos, bool, bool) override {
        values_ = EditBuffer();
        return 0;
    }
    bool InternalDelete(TRecordPos, TRecordPos&) override { return false; }
    void CheckFieldValue(const TField& field, TValue& value) override {
        value = engine_.CheckValue(field.Index(), value);
    }

private:
    std::vector<TFieldDef> defs_;
    std::vector<TValue> values_;
    TTableEngine engine_;
};

TFieldDef Def(const char* name, TFieldType type, int size = 0, int precision = 0) {
    TFieldDef def;
    def.Name = name;
    def.DataType = type;
    def.Size = size;
    def.Precision = precision;
    return def;
}

struct Fixture {
    std::unique_ptr<TFuzzDataSet> dataSet;
    std::array<TFormatSettings, 3> formats;

    Fixture() {
        using enum TFieldType;
        dataSet = std::make_unique<TFuzzDataSet>(std::vector<TFieldDef>{
            Def("C_SMALLINT", ftSmallint),
            Def("C_INTEGER", ftInteger),
            Def("C_BIGINT", ftLargeint),
            Def("C_N4", ftFMTBcd, 2, 4),
            Def("C_N9", ftFMTBcd, 3, 9),
            Def("C_N18", ftFMTBcd, 4, 18),
            Def("C_D18", ftFMTBcd, 18, 18),
            Def("C_FLOAT", ftSingle),
            Def("C_DOUBLE", ftFloat),
            Def("C_DATE", ftDate),
            Def("C_TIME", ftTime),
            Def("C_TS", ftTimeStamp),
            Def("C_BOOL", ftBoolean),
            Def("C_CHAR", ftString, 3),
            Def("C_VARCHAR", ftWideString, 5),
            Def("C_MEMO", ftWideMemo, 1),
        });
        dataSet->Open();
        dataSet->Edit();
        formats = {FormatSettingsFor(QLocale(QLocale::Japanese, QLocale::Japan)),
                   FormatSettingsFor(QLocale(QLocale::English, QLocale::UnitedStates)),
                   FormatSettingsFor(QLocale::c())};
    }
};

// Writes text into the field; false when the field refused it with the system's error.
bool Typed(TField& field, const QString& text) {
    try {
        SetFieldText(field, text);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    if (size < 2)
        return 0;
    TDataSet& dataSet = *fixture.dataSet;
    TField& field = dataSet.Fields(data[0] % dataSet.FieldCount());
    FormatSettings() = fixture.formats[data[1] % fixture.formats.size()];
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 2),
                                           static_cast<qsizetype>(size - 2));

    const TValue before = field.Value();
    if (!Typed(field, text)) {
        Check(field.Value() == before);
        return 0;
    }
    const TValue value = field.Value();
    if (IsTextType(field.DataType())) {
        // Text as typed, cut to the size in characters where the kind has one.
        std::u32string characters = text.toStdU32String();
        if (!field.IsBlob() && field.Size() > 0)
            characters.resize(std::min<std::size_t>(characters.size(), field.Size()));
        const QString kept = QString::fromStdU32String(characters);
        Check(value == TValue(kept.toStdString()));
        return 0;
    }
    // What the cell shows reads back as the same value, and shows the same again.
    const QString shown = EditText(field, value);
    Check(Typed(field, shown));
    Check(field.Value() == value);
    Check(EditText(field, field.Value()) == shown);
    return 0;
}
