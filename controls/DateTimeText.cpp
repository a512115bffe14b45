#include "DateTimeText.h"

#include <QDate>
#include <QTime>

#include <vector>

namespace sorvanto {

namespace {

// One element of a QDate/QTime format string: a field letter repeated `count` times, or literal
// text (letter 0). "AP", "ap", "A" and "a" are the AM/PM field, letter 'a'.
struct Token {
    QChar letter;
    int count = 0;
    QString literal;
};

bool IsFieldLetter(QChar c) {
    return QStringLiteral("dMyhHmszt").contains(c);
}

std::vector<Token> Tokens(const QString& format) {
    std::vector<Token> tokens;
    auto addLiteral = [&](const QString& text) {
        if (!tokens.empty() && tokens.back().letter.isNull())
            tokens.back().literal += text;
        else
            tokens.push_back(Token{QChar(), 0, text});
    };
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            QString text;
            qsizetype j = i + 1;
            if (j < format.size() && format[j] == QLatin1Char('\'')) {
                addLiteral(QStringLiteral("'"));
                i = j + 1;
                continue;
            }
            for (; j < format.size(); ++j) {
                if (format[j] == QLatin1Char('\'')) {
                    if (j + 1 < format.size() && format[j + 1] == QLatin1Char('\'')) {
                        text += QLatin1Char('\'');
                        ++j;
                        continue;
                    }
                    break;
                }
                text += format[j];
            }
            addLiteral(text);
            i = j + 1;
        } else if (c == QLatin1Char('A') || c == QLatin1Char('a')) {
            const bool pair = i + 1 < format.size() && format[i + 1].toLower() == QLatin1Char('p');
            tokens.push_back(Token{QLatin1Char('a'), pair ? 2 : 1, {}});
            i += pair ? 2 : 1;
        } else if (IsFieldLetter(c)) {
            qsizetype j = i;
            while (j < format.size() && format[j] == c)
                ++j;
            tokens.push_back(Token{c, static_cast<int>(j - i), {}});
            i = j;
        } else {
            addLiteral(QString(c));
            ++i;
        }
    }
    return tokens;
}

QString FormatString(const std::vector<Token>& tokens) {
    QString format;
    for (const Token& token : tokens) {
        if (token.letter.isNull()) {
            bool plain = true;
            for (QChar c : token.literal)
                if (c.isLetter() || c == QLatin1Char('\''))
                    plain = false;
            if (plain) {
                format += token.literal;
            } else {
                QString quoted = token.literal;
                quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
                format += QLatin1Char('\'') + quoted + QLatin1Char('\'');
            }
        } else if (token.letter == QLatin1Char('a')) {
            format += token.count == 2 ? QStringLiteral("AP") : QStringLiteral("A");
        } else {
            format += QString(token.count, token.letter);
        }
    }
    return format.trimmed();
}

// The format without its time zone fields (and the blanks that stood beside them).
QString WithoutZone(const QString& format) {
    std::vector<Token> tokens;
    for (const Token& token : Tokens(format))
        if (token.letter != QLatin1Char('t'))
            tokens.push_back(token);
    for (Token& token : tokens)
        if (token.letter.isNull() && token.literal.trimmed().isEmpty())
            token.literal = QStringLiteral(" ");
    return FormatString(tokens);
}

bool IsHour(const Token& token) {
    return token.letter == QLatin1Char('h') || token.letter == QLatin1Char('H');
}

// A time format with the seconds added after the minutes, with the separator that stands between
// the hours and the minutes ("H:mm" gives "H:mm:ss", "H.mm" "H.mm.ss").
QString WithSeconds(const QString& format) {
    std::vector<Token> tokens = Tokens(format);
    int minutes = -1;
    int hours = -1;
    for (int i = 0; i < static_cast<int>(tokens.size()); ++i) {
        if (tokens[static_cast<size_t>(i)].letter == QLatin1Char('s'))
            return format;
        if (IsHour(tokens[static_cast<size_t>(i)]) && minutes < 0)
            hours = i;
        if (tokens[static_cast<size_t>(i)].letter == QLatin1Char('m') && minutes < 0)
            minutes = i;
    }
    if (minutes < 0)
        return {};
    QString separator = QStringLiteral(":");
    if (hours >= 0 && hours + 2 == minutes &&
        tokens[static_cast<size_t>(hours + 1)].letter.isNull())
        separator = tokens[static_cast<size_t>(hours + 1)].literal;
    tokens.insert(tokens.begin() + minutes + 1,
                  {Token{QChar(), 0, separator}, Token{QLatin1Char('s'), 2, {}}});
    return FormatString(tokens);
}

// A time format without its seconds (and the separator before them).
QString WithoutSeconds(const QString& format) {
    std::vector<Token> tokens = Tokens(format);
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].letter != QLatin1Char('s'))
            continue;
        size_t from = i > 0 && tokens[i - 1].letter.isNull() ? i - 1 : i;
        tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(from),
                     tokens.begin() + static_cast<std::ptrdiff_t>(i + 1));
        break;
    }
    return FormatString(tokens);
}

// ---- Reading --------------------------------------------------------------------------------

struct Clock {
    int year = -1, yearDigits = 0, month = -1, day = -1;
    int hour = -1, minute = -1, second = -1, msec = 0;
    bool twelveHour = false;
    int pm = -1; // -1: no AM/PM given
};

void SkipBlanks(const QString& text, qsizetype& pos) {
    while (pos < text.size() && text[pos].isSpace())
        ++pos;
}

bool ReadNumber(const QString& text, qsizetype& pos, int maxDigits, int& value, int* digits) {
    int n = 0;
    int v = 0;
    while (n < maxDigits && pos < text.size() && text[pos].isDigit()) {
        v = v * 10 + text[pos].digitValue();
        ++pos;
        ++n;
    }
    if (n == 0)
        return false;
    value = v;
    if (digits)
        *digits = n;
    return true;
}

// Matches the longest of the names at pos, without regard to letter case; its index or -1.
int ReadName(const QString& text, qsizetype& pos, const std::vector<QString>& names) {
    int best = -1;
    qsizetype bestLength = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        if (name.isEmpty() || name.size() <= bestLength)
            continue;
        if (QStringView(text).mid(pos, name.size()).compare(name, Qt::CaseInsensitive) == 0) {
            best = static_cast<int>(i);
            bestLength = name.size();
        }
    }
    pos += bestLength;
    return best;
}

std::vector<QString> MonthNames(const QLocale& locale) {
    std::vector<QString> names; // index % 12 is the month - 1
    for (QLocale::FormatType type : {QLocale::LongFormat, QLocale::ShortFormat}) {
        for (int m = 1; m <= 12; ++m)
            names.push_back(locale.monthName(m, type));
        for (int m = 1; m <= 12; ++m)
            names.push_back(locale.standaloneMonthName(m, type));
    }
    return names;
}

std::vector<QString> DayNames(const QLocale& locale) {
    std::vector<QString> names;
    for (QLocale::FormatType type : {QLocale::LongFormat, QLocale::ShortFormat})
        for (int d = 1; d <= 7; ++d) {
            names.push_back(locale.dayName(d, type));
            names.push_back(locale.standaloneDayName(d, type));
        }
    return names;
}

// Reads text from pos on as the format's tokens say; pos moves past what was read.
bool ReadTokens(const QString& text, qsizetype& pos, const std::vector<Token>& tokens,
                const QLocale& locale, Clock& clock) {
    for (const Token& token : tokens) {
        const char16_t letter = token.letter.unicode();
        switch (letter) {
        case 0:
            for (QChar c : token.literal) {
                if (c.isSpace()) {
                    SkipBlanks(text, pos);
                } else {
                    if (pos >= text.size() || text[pos].toCaseFolded() != c.toCaseFolded())
                        return false;
                    ++pos;
                }
            }
            break;
        case u'd':
            if (token.count >= 3) {
                if (ReadName(text, pos, DayNames(locale)) < 0)
                    return false;
            } else if (!ReadNumber(text, pos, 2, clock.day, nullptr)) {
                return false;
            }
            break;
        case u'M':
            if (token.count >= 3) {
                int index = ReadName(text, pos, MonthNames(locale));
                if (index < 0)
                    return false;
                clock.month = index % 12 + 1;
            } else if (!ReadNumber(text, pos, 2, clock.month, nullptr)) {
                return false;
            }
            break;
        case u'y':
            if (!ReadNumber(text, pos, token.count <= 2 ? 2 : 4, clock.year, &clock.yearDigits))
                return false;
            break;
        case u'h':
        case u'H':
            if (!ReadNumber(text, pos, 2, clock.hour, nullptr))
                return false;
            clock.twelveHour = letter == u'h';
            break;
        case u'm':
            if (!ReadNumber(text, pos, 2, clock.minute, nullptr))
                return false;
            break;
        case u's':
            if (!ReadNumber(text, pos, 2, clock.second, nullptr))
                return false;
            break;
        case u'z': {
            int digits = 0;
            if (!ReadNumber(text, pos, 3, clock.msec, &digits))
                return false;
            for (; digits < 3; ++digits)
                clock.msec *= 10;
            break;
        }
        case u'a': {
            int index = ReadName(
                text, pos,
                {locale.amText(), locale.pmText(), QStringLiteral("AM"), QStringLiteral("PM")});
            if (index < 0)
                return false;
            clock.pm = index % 2;
            break;
        }
        default: // a time zone: never part of a wall-clock value
            return false;
        }
    }
    return true;
}

// A year typed with one or two digits is the one within 50 years of this year.
int FullYear(const Clock& clock) {
    if (clock.yearDigits > 2)
        return clock.year;
    const int now = QDate::currentDate().year();
    int year = now - now % 100 + clock.year;
    if (year > now + 49)
        year -= 100;
    else if (year <= now - 50)
        year += 100;
    return year;
}

std::optional<TSQLDate> DateOf(const Clock& clock) {
    if (clock.year < 0 || clock.month < 0 || clock.day < 0)
        return std::nullopt;
    const int year = FullYear(clock);
    if (year < 1 || year > 9999 || !QDate::isValid(year, clock.month, clock.day))
        return std::nullopt;
    return TSQLDate{year, clock.month, clock.day};
}

std::optional<TSQLTime> TimeOf(const Clock& clock) {
    if (clock.hour < 0 || clock.minute < 0)
        return std::nullopt;
    int hour = clock.hour;
    if (clock.twelveHour && clock.pm >= 0) {
        if (hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + (clock.pm == 1 ? 12 : 0);
    }
    const int second = clock.second < 0 ? 0 : clock.second;
    if (hour > 23 || clock.minute > 59 || second > 59)
        return std::nullopt;
    return TSQLTime{hour, clock.minute, second, clock.msec * 10};
}

// Full-width digits and signs, as a Japanese input method types them, become the plain ones.
QString Normalized(const QString& text) {
    return text.normalized(QString::NormalizationForm_KC).trimmed();
}

bool ReadWhole(const QString& text, qsizetype pos, const QString& format, const QLocale& locale,
               Clock& clock) {
    if (format.isEmpty() || !ReadTokens(text, pos, Tokens(format), locale, clock))
        return false;
    SkipBlanks(text, pos);
    return pos == text.size();
}

std::optional<TSQLTime> ReadTimeFrom(const QString& text, qsizetype pos,
                                     const TFormatSettings& formats) {
    for (const QString& format :
         {formats.LongTimeFormat, formats.ShortTimeFormat, formats.QtLongTimeFormat}) {
        Clock clock;
        if (ReadWhole(text, pos, format, formats.Locale, clock))
            if (auto time = TimeOf(clock))
                return time;
    }
    return std::nullopt;
}

} // namespace

TFormatSettings FormatSettingsFor(const QLocale& locale) {
    TFormatSettings settings;
    settings.Locale = locale;
    settings.ShortDateFormat = QStringLiteral("yyyy/MM/dd");
    settings.LongTimeFormat = QStringLiteral("H:mm:ss");
    settings.ShortTimeFormat = QStringLiteral("H:mm");
    settings.QtLongTimeFormat = settings.LongTimeFormat;
    if (locale.language() == QLocale::C)
        return settings;
    QString date = locale.dateFormat(QLocale::ShortFormat);
    if (!date.isEmpty()) {
        std::vector<Token> tokens = Tokens(date);
        for (Token& token : tokens)
            if (token.letter == QLatin1Char('y'))
                token.count = 4; // two-digit years become four-digit ones
        settings.ShortDateFormat = FormatString(tokens);
    }
    const QString shortTime = WithoutZone(locale.timeFormat(QLocale::ShortFormat));
    const QString longTime = WithSeconds(shortTime);
    if (!shortTime.isEmpty() && !longTime.isEmpty()) {
        settings.LongTimeFormat = longTime;
        settings.ShortTimeFormat = WithoutSeconds(longTime);
    }
    const QString qtLong = WithoutZone(locale.timeFormat(QLocale::LongFormat));
    if (!qtLong.isEmpty())
        settings.QtLongTimeFormat = qtLong;
    return settings;
}

TFormatSettings& FormatSettings() {
    static TFormatSettings settings = FormatSettingsFor(QLocale::system());
    return settings;
}

QString DateText(const TSQLDate& date, const TFormatSettings& formats) {
    return formats.Locale.toString(QDate(date.year, date.month, date.day), formats.ShortDateFormat);
}

QString TimeText(const TSQLTime& time, const TFormatSettings& formats) {
    return formats.Locale.toString(QTime(time.hour, time.minute, time.second),
                                   formats.LongTimeFormat);
}

std::optional<TSQLDate> ReadDate(const QString& text, const TFormatSettings& formats) {
    const QString typed = Normalized(text);
    Clock clock;
    if (!ReadWhole(typed, 0, formats.ShortDateFormat, formats.Locale, clock))
        return std::nullopt;
    return DateOf(clock);
}

std::optional<TSQLTime> ReadTime(const QString& text, const TFormatSettings& formats) {
    return ReadTimeFrom(Normalized(text), 0, formats);
}

std::optional<TSQLTimeStamp> ReadTimeStamp(const QString& text, const TFormatSettings& formats) {
    const QString typed = Normalized(text);
    Clock clock;
    qsizetype pos = 0;
    if (!ReadTokens(typed, pos, Tokens(formats.ShortDateFormat), formats.Locale, clock))
        return std::nullopt;
    const std::optional<TSQLDate> date = DateOf(clock);
    if (!date)
        return std::nullopt;
    SkipBlanks(typed, pos);
    if (pos == typed.size())
        return TSQLTimeStamp{*date, {}};
    if (auto time = ReadTimeFrom(typed, pos, formats))
        return TSQLTimeStamp{*date, *time};
    return std::nullopt;
}

} // namespace sorvanto
