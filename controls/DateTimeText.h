#pragma once

// Dates and times of day as the operator sees and types them, in the user's formats. A date and
// time is a wall-clock value: it is read and written without any time zone, so a time that falls
// in a daylight-saving gap of the machine's zone is as good as any other.

#include "Value.h"

#include <QLocale>
#include <QString>

#include <optional>

namespace sorvanto {

// The user's date and time formats, as QDate/QTime format strings, and the locale whose names
// (AM/PM texts, month names) go with them.
struct TFormatSettings {
    QLocale Locale = QLocale::c();
    QString ShortDateFormat;
    // The short time format with the seconds added: what times are shown in.
    QString LongTimeFormat;
    // Also read from typed text: the short time format (no seconds) and Qt's own long time
    // format without its time zone.
    QString ShortTimeFormat;
    QString QtLongTimeFormat;
};
// The formats of a locale: its short date format with the year widened to four digits, its short
// time format with the seconds added after the minutes in the same notation; yyyy/MM/dd and
// H:mm:ss for the C locale or where the locale gives none. Never a time zone.
TFormatSettings FormatSettingsFor(const QLocale& locale);
// The formats in use, taken from the user's locale at first use; tests pin them here.
TFormatSettings& FormatSettings();

QString DateText(const TSQLDate& date, const TFormatSettings& formats = FormatSettings());
QString TimeText(const TSQLTime& time, const TFormatSettings& formats = FormatSettings());

// Typed text to a date (the short date format), a time of day (the long time format, the short
// one, or Qt's long form) or a date with an optional time of day. Blanks around the text are
// ignored; nothing when the text is not one, or names a day or time that does not exist.
std::optional<TSQLDate> ReadDate(const QString& text,
                                 const TFormatSettings& formats = FormatSettings());
std::optional<TSQLTime> ReadTime(const QString& text,
                                 const TFormatSettings& formats = FormatSettings());
std::optional<TSQLTimeStamp> ReadTimeStamp(const QString& text,
                                           const TFormatSettings& formats = FormatSettings());

} // namespace sorvanto
