#include "FieldText.h"

#include "DataSet.h"
#include "Errors.h"
#include "TextCodec.h"

#include "TableEngine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <system_error>

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
    // The magnitude in unsigned arithmetic: the lowest 64-bit value has no positive counterpart.
    const std::uint64_t magnitude = bcd.value < 0 ? ~static_cast<std::uint64_t>(bcd.value) + 1
                                                  : static_cast<std::uint64_t>(bcd.value);
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

// The shortest text that reads back as the same number; single-precision values as floats.
template <typename T> QString ShortestText(T value) {
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, value);
    return QString::fromLatin1(text, result.ptr - text);
}

} // namespace

QString DisplayText(const TField& field, const TValue& value) {
    const TFieldType type = field.DataType();
    if (IsBlobType(type)) {
        QString text = QStringLiteral("(%1)").arg(QLatin1String(BlobKindName(type)));
        return IsNull(value) ? text : text.toUpper();
    }
    if (auto* number = std::get_if<double>(&value); number && type == TFieldType::ftSingle)
        return ShortestText(static_cast<float>(*number));
    struct Visitor {
        QString operator()(std::monostate) const { return {}; }
        QString operator()(bool v) const {
            return v ? QStringLiteral("True") : QStringLiteral("False");
        }
        QString operator()(std::int64_t v) const { return QString::number(v); }
        QString operator()(double v) const { return ShortestText(v); }
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

QString GroupedNumber(qint64 value) {
    QString digits = QString::number(value);
    const qsizetype first = digits.startsWith(QLatin1Char('-')) ? 1 : 0;
    for (qsizetype at = digits.size() - 3; at > first; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return digits;
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

namespace {

// Text as UTF-8. A lone surrogate, which no whole character leaves behind, becomes U+FFFD: a
// "?" standing in for a character is never written.
std::string Utf8(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()) * 3);
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t codePoint = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        AppendUtf8(out, codePoint);
    }
    return out;
}

// The conversion error of a kind: "'text' は項目 'field' に適した<what>ではありません".
[[noreturn]] void RefuseText(const TField& field, const QString& text, const char* what) {
    throw EDatabaseError("'" + Utf8(text) + "' は項目 '" + field.DisplayName() + "' に適した" +
                         what + "ではありません");
}

[[noreturn]] void RefuseRange(const TField& field, const std::string& value, double lowest,
                              double highest) {
    throw EDatabaseError(value + " は項目 '" + field.DisplayName() +
                         "' に適した値ではありません。" + FormatG(lowest) + " から " +
                         FormatG(highest) + " の範囲が許されます");
}

TValue IntegerFromText(const TField& field, const QString& text) {
    bool ok = false;
    const QString trimmed = text.trimmed();
    qlonglong value = trimmed.toLongLong(&ok, 10);
    if (!ok)
        RefuseText(field, text, "整数値");
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
        RefuseRange(field, FormatG(double(value)), lowest, highest);
    return std::int64_t(value);
}

// Plain decimal notation: an optional sign, digits, and a point with more digits; at least one
// digit in all.
bool SplitDecimal(const QString& text, bool& negative, QString& whole, QString& fraction) {
    qsizetype pos = 0;
    negative = false;
    if (pos < text.size() && (text[pos] == QLatin1Char('-') || text[pos] == QLatin1Char('+')))
        negative = text[pos++] == QLatin1Char('-');
    auto digits = [&](QString& out) {
        while (pos < text.size() && text[pos] >= QLatin1Char('0') && text[pos] <= QLatin1Char('9'))
            out += text[pos++];
    };
    digits(whole);
    if (pos < text.size() && text[pos] == QLatin1Char('.')) {
        ++pos;
        digits(fraction);
    }
    return pos == text.size() && !(whole.isEmpty() && fraction.isEmpty());
}

// An exact decimal of the field's scale. Fraction digits past the scale are refused unless they
// are zeros; a number past 64 bits gets the column's range error.
TValue DecimalFromText(const TField& field, const QString& text) {
    const QString trimmed = text.trimmed();
    bool negative = false;
    QString whole, fraction;
    if (!SplitDecimal(trimmed, negative, whole, fraction))
        RefuseText(field, text, "数値");
    const int scale = std::max(field.Size(), 0);
    while (fraction.size() > scale && fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (fraction.size() > scale)
        throw EDatabaseError("'" + Utf8(text) + "' は項目 '" + field.DisplayName() +
                             "' に適した値ではありません。小数点以下 " + std::to_string(scale) +
                             " 桁までが許されます");
    fraction += QString(scale - fraction.size(), QLatin1Char('0'));
    std::uint64_t magnitude = 0;
    bool overflow = false;
    for (QChar c : whole + fraction)
        overflow = overflow || __builtin_mul_overflow(magnitude, 10u, &magnitude) ||
                   __builtin_add_overflow(magnitude, unsigned(c.digitValue()), &magnitude);
    const std::uint64_t limit =
        std::uint64_t(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    if (overflow || magnitude > limit)
        RaiseDecimalOutOfRange(field.Def(), Utf8(trimmed));
    const std::uint64_t bits = negative ? ~magnitude + 1 : magnitude;
    return TBcd{static_cast<std::int64_t>(bits), scale};
}

// A floating-point number in plain or exponent notation; NaN and the infinities are refused,
// and so are numbers past the kind's range.
TValue FloatFromText(const TField& field, const QString& text) {
    const QString trimmed = text.trimmed();
    const std::string typed = trimmed.toStdString();
    const char* first = typed.data();
    const char* last = first + typed.size();
    if (first != last && *first == '+')
        ++first;
    // Only a digit or a point may start the number ("-" too, once): no "inf", "nan" or hex.
    const char* start = first != last && *first == '-' ? first + 1 : first;
    if (start == last || !((*start >= '0' && *start <= '9') || *start == '.'))
        RefuseText(field, text, "浮動小数点数");
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (end != last)
        RefuseText(field, text, "浮動小数点数");
    const bool single = field.DataType() == TFieldType::ftSingle;
    const double highest =
        single ? std::numeric_limits<float>::max() : std::numeric_limits<double>::max();
    if (error == std::errc::result_out_of_range) {
        // Too small to tell from zero, or too large for any double.
        const auto exponent = typed.find_first_of("eE");
        const auto point = std::min(typed.find('.'), exponent);
        const bool tiny = exponent != std::string::npos ? typed.compare(exponent + 1, 1, "-") == 0
                                                        : typed.find_first_of("123456789") >= point;
        if (tiny)
            RefuseText(field, text, "浮動小数点数");
        RefuseRange(field, typed, -highest, highest);
    }
    if (error != std::errc() || !std::isfinite(value))
        RefuseText(field, text, "浮動小数点数");
    if (single) {
        // The nearest float: up to half a step past the largest one, that one.
        const double halfStep = std::ldexp(1.0, std::numeric_limits<float>::max_exponent - 25);
        if (std::fabs(value) >= highest + halfStep)
            RefuseRange(field, FormatG(value), -highest, highest);
        if (std::fabs(value) > highest)
            value = std::copysign(highest, value);
    }
    return value;
}

TValue BooleanFromText(const TField& field, const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    RefuseText(field, text, "論理値");
}

TValue ValueFromText(const TField& field, const QString& text) {
    const TFieldType type = field.DataType();
    if (IsTextType(type)) {
        // Cut to the field's size in characters, as the database counts them.
        const bool sized = !IsBlobType(type) && field.Size() > 0;
        return Utf8(sized ? FirstCharacters(text, field.Size()) : text);
    }
    if (text.isEmpty())
        return TValue();
    if (IsIntegerKind(type))
        return IntegerFromText(field, text);
    switch (type) {
    case TFieldType::ftBCD:
    case TFieldType::ftFMTBcd:
        return DecimalFromText(field, text);
    case TFieldType::ftFloat:
    case TFieldType::ftSingle:
    case TFieldType::ftCurrency:
    case TFieldType::ftExtended:
        return FloatFromText(field, text);
    case TFieldType::ftBoolean:
        return BooleanFromText(field, text);
    case TFieldType::ftDate:
        if (auto date = ReadDate(text))
            return *date;
        RefuseText(field, text, "日付");
    case TFieldType::ftTime:
        if (auto time = ReadTime(text))
            return *time;
        RefuseText(field, text, "時刻");
    case TFieldType::ftTimeStamp:
    case TFieldType::ftDateTime:
        if (auto stamp = ReadTimeStamp(text))
            return *stamp;
        throw Exception("SQL タイムスタンプ文字列が解析できません");
    default:
        return Utf8(text);
    }
}

} // namespace

qsizetype CharacterCount(const QString& text) {
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++count)
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    return count;
}

QString FirstCharacters(const QString& text, qsizetype count) {
    qsizetype end = 0;
    for (qsizetype n = 0; n < count && end < text.size(); ++n)
        end +=
            text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate()
                ? 2
                : 1;
    return text.left(end);
}

bool FieldAcceptsChar(const TField& field, QChar c) {
    if (!IsIntegerKind(field.DataType()))
        return true;
    return c == QLatin1Char('+') || c == QLatin1Char('-') ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

void SetFieldText(TField& field, const QString& text) {
    field.SetValue(ValueFromText(field, text));
}

} // namespace sorvanto
