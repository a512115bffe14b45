#include "FieldText.h"

#include "DataSet.h"
#include "Errors.h"
#include "TextCodec.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QTime>

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace sorvanto {

namespace {

const char* BlobKindName(TFieldType type) {
    switch (type) {
    case TFieldType::ftMemo:
        return "Memo";
    case TFieldType::ftWideMemo:
        return "WideMemo";
    case TFieldType::ftGraphic:
        return "Graphic";
    case TFieldType::ftFmtMemo:
        return "FmtMemo";
    case TFieldType::ftParadoxOle:
        return "ParadoxOle";
    case TFieldType::ftDBaseOle:
        return "DBaseOle";
    case TFieldType::ftTypedBinary:
        return "TypedBinary";
    case TFieldType::ftOraBlob:
        return "OraBlob";
    case TFieldType::ftOraClob:
        return "OraClob";
    default:
        return "Blob";
    }
}

QString BcdText(const TBcd& bcd) {
    std::int64_t magnitude = bcd.value < 0 ? -bcd.value : bcd.value;
    QString digits = QString::number(magnitude);
    if (bcd.scale > 0) {
        if (digits.size() <= bcd.scale)
            digits.prepend(QString(bcd.scale - digits.size() + 1, QLatin1Char('0')));
        digits.insert(digits.size() - bcd.scale, QLatin1Char('.'));
        while (digits.endsWith(QLatin1Char('0')))
            digits.chop(1);
        if (digits.endsWith(QLatin1Char('.')))
            digits.chop(1);
    }
    return bcd.value < 0 ? QLatin1Char('-') + digits : digits;
}

QString DateText(const TSQLDate& date) {
    QDate d(date.year, date.month, date.day);
    return QLocale::system().toString(d, FormatSettings().ShortDateFormat);
}

QString TimeText(const TSQLTime& time) {
    QTime t(time.hour, time.minute, time.second);
    return QLocale::system().toString(t, FormatSettings().LongTimeFormat);
}

} // namespace

TFormatSettings FormatSettingsFor(const QLocale& locale) {
    TFormatSettings settings{QStringLiteral("yyyy/MM/dd"), QStringLiteral("H:mm:ss")};
    if (locale.language() == QLocale::C)
        return settings;
    QString date = locale.dateFormat(QLocale::ShortFormat);
    if (!date.isEmpty()) {
        // Two-digit years become four-digit ones.
        static const QRegularExpression shortYear(QStringLiteral("(?<!y)yy(?!y)"));
        date.replace(shortYear, QStringLiteral("yyyy"));
        settings.ShortDateFormat = date;
    }
    QString time = locale.timeFormat(QLocale::LongFormat);
    if (!time.isEmpty()) {
        static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
        time.replace(zone, QStringLiteral(" "));
        time = time.trimmed();
        if (!time.contains(QLatin1Char('s'))) {
            qsizetype minutes = time.lastIndexOf(QStringLiteral("mm"));
            if (minutes >= 0)
                time.insert(minutes + 2, QStringLiteral(":ss"));
        }
        settings.LongTimeFormat = time;
    }
    return settings;
}

TFormatSettings& FormatSettings() {
    static TFormatSettings settings = FormatSettingsFor(QLocale::system());
    return settings;
}

QString DisplayText(const TField& field, const TValue& value) {
    const TFieldType type = field.DataType();
    if (IsBlobType(type)) {
        QString text = QStringLiteral("(%1)").arg(QLatin1String(BlobKindName(type)));
        return IsNull(value) ? text : text.toUpper();
    }
    struct Visitor {
        QString operator()(std::monostate) const { return {}; }
        QString operator()(bool v) const {
            return v ? QStringLiteral("True") : QStringLiteral("False");
        }
        QString operator()(std::int64_t v) const { return QString::number(v); }
        QString operator()(double v) const { return QString::number(v, 'g', 15); }
        QString operator()(const TBcd& v) const { return BcdText(v); }
        QString operator()(const std::string& v) const { return QString::fromStdString(v); }
        QString operator()(const TBytes& v) const {
            return QString::fromLatin1(v.data.data(), static_cast<qsizetype>(v.data.size()));
        }
        QString operator()(const TSQLDate& v) const { return DateText(v); }
        QString operator()(const TSQLTime& v) const { return TimeText(v); }
        QString operator()(const TSQLTimeStamp& v) const {
            QString text = DateText(v.date);
            // Midnight shows the date alone.
            if (v.time.hour != 0 || v.time.minute != 0 || v.time.second != 0)
                text += QLatin1Char(' ') + TimeText(v.time);
            return text;
        }
    };
    return std::visit(Visitor{}, value);
}

QString EditText(const TField& field, const TValue& value) {
    return DisplayText(field, value);
}

int DisplayWidth(const TField& field) {
    switch (field.DataType()) {
    case TFieldType::ftString:
    case TFieldType::ftWideString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftFixedWideChar:
        return field.Size();
    case TFieldType::ftLargeint:
        return 15;
    case TFieldType::ftTimeStamp:
        return 34;
    case TFieldType::ftDateTime:
        return 18;
    case TFieldType::ftBCD:
    case TFieldType::ftFMTBcd:
        return field.Precision() == 0 ? 10 : field.Precision() + 1;
    default:
        return 10;
    }
}

TAlignment FieldAlignment(const TField& field) {
    switch (field.DataType()) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftLargeint:
    case TFieldType::ftAutoInc:
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
    case TFieldType::ftFMTBcd:
    case TFieldType::ftLongWord:
    case TFieldType::ftShortint:
    case TFieldType::ftByte:
    case TFieldType::ftExtended:
    case TFieldType::ftSingle:
        return TAlignment::taRightJustify;
    default:
        return TAlignment::taLeftJustify;
    }
}

bool FieldCanModify(const TField& field) {
    return field.FieldKind() == TFieldKind::fkData && !field.ReadOnly() &&
           field.DataSet().CanModify();
}

bool IsNonTextKind(TFieldType type) {
    switch (type) {
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftMemo:
    case TFieldType::ftGraphic:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary:
    case TFieldType::ftCursor:
    case TFieldType::ftADT:
    case TFieldType::ftArray:
    case TFieldType::ftReference:
    case TFieldType::ftDataSet:
        return true;
    default:
        return false;
    }
}

namespace {

bool IsIntegerKind(TFieldType type) {
    switch (type) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftLargeint:
    case TFieldType::ftAutoInc:
    case TFieldType::ftLongWord:
    case TFieldType::ftShortint:
    case TFieldType::ftByte:
        return true;
    default:
        return false;
    }
}

// A number as C's "%g" formats it.
std::string FormatG(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

TValue IntegerFromText(const TField& field, const QString& text) {
    bool ok = false;
    const QString trimmed = text.trimmed();
    qlonglong value = trimmed.toLongLong(&ok, 10);
    if (!ok)
        throw EDatabaseError("'" + text.toStdString() + "' は項目 '" + field.DisplayName() +
                             "' に適した整数値ではありません");
    double lowest = 0, highest = 0;
    switch (field.DataType()) {
    case TFieldType::ftSmallint:
        lowest = std::numeric_limits<std::int16_t>::min();
        highest = std::numeric_limits<std::int16_t>::max();
        break;
    case TFieldType::ftInteger:
        lowest = std::numeric_limits<std::int32_t>::min();
        highest = std::numeric_limits<std::int32_t>::max();
        break;
    default:
        return std::int64_t(value); // no limits set
    }
    if (double(value) < lowest || double(value) > highest)
        throw EDatabaseError(FormatG(double(value)) + " は項目 '" + field.DisplayName() +
                             "' に適した値ではありません。" + FormatG(lowest) + " から " +
                             FormatG(highest) + " の範囲が許されます");
    return std::int64_t(value);
}

TValue TimeStampFromText(const QString& text) {
    const TFormatSettings& formats = FormatSettings();
    const QString trimmed = text.trimmed();
    const QLocale locale = QLocale::system();
    QString shortTime = formats.LongTimeFormat;
    shortTime.remove(QStringLiteral(":ss"));
    for (const QString& format :
         {formats.ShortDateFormat + QLatin1Char(' ') + formats.LongTimeFormat,
          formats.ShortDateFormat + QLatin1Char(' ') + shortTime, formats.ShortDateFormat}) {
        QDateTime moment = locale.toDateTime(trimmed, format);
        if (!moment.isValid())
            moment = QDateTime::fromString(trimmed, format);
        if (moment.isValid()) {
            QDate d = moment.date();
            QTime t = moment.time();
            return TSQLTimeStamp{{d.year(), d.month(), d.day()},
                                 {t.hour(), t.minute(), t.second(), 0}};
        }
    }
    throw Exception("SQL タイムスタンプ文字列が解析できません");
}

} // namespace

bool FieldAcceptsChar(const TField& field, QChar c) {
    if (!IsIntegerKind(field.DataType()))
        return true;
    return c == QLatin1Char('+') || c == QLatin1Char('-') ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

void SetFieldText(TField& field, const QString& text) {
    const TFieldType type = field.DataType();
    if (IsIntegerKind(type)) {
        field.SetValue(text.isEmpty() ? TValue() : IntegerFromText(field, text));
        return;
    }
    switch (type) {
    case TFieldType::ftTimeStamp:
    case TFieldType::ftDateTime:
        field.SetValue(text.isEmpty() ? TValue() : TimeStampFromText(text));
        return;
    case TFieldType::ftString:
    case TFieldType::ftFixedChar: {
        // Cut to the field's size in bytes, at a character boundary.
        std::string bytes = text.toStdString();
        if (field.Size() > 0)
            bytes.resize(Utf8PrefixLength(bytes, static_cast<size_t>(field.Size())));
        field.SetValue(bytes);
        return;
    }
    case TFieldType::ftFloat:
    case TFieldType::ftSingle: {
        if (text.isEmpty()) {
            field.SetValue(TValue());
            return;
        }
        bool ok = false;
        double value = text.trimmed().toDouble(&ok);
        if (!ok)
            throw EDatabaseError("'" + text.toStdString() + "' は有効な浮動小数点数ではありません");
        field.SetValue(value);
        return;
    }
    default:
        field.SetValue(text.toStdString());
        return;
    }
}

} // namespace sorvanto
