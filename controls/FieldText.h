#pragma once

// How the widgets show a field's value as text and read a typed text back: the display texts of
// the field kinds in the user's date and time formats, display widths and alignments.

#include "DateTimeText.h"
#include "Field.h"
#include "Value.h"

#include <QString>

namespace sorvanto {

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

// The text a data cell shows for the value of field (which need not be the current record's).
QString DisplayText(const TField& field, const TValue& value);
// The text the in-place editor starts with; no display or edit formats are set, so it is the
// display text.
QString EditText(const TField& field, const TValue& value);
// The field's display width in characters.
int DisplayWidth(const TField& field);
// Numbers right, everything else left.
TAlignment FieldAlignment(const TField& field);
// Whether the field may be written: a data field, not read-only, of a dataset that can modify.
bool FieldCanModify(const TField& field);
// Whether a typed character may go into the field: integer fields take only "+", "-" and the
// digits, every other kind any character.
bool FieldAcceptsChar(const TField& field, QChar c);
// The number of characters (code points) of a text, as the database counts them, and its first
// `count` characters: a character outside the Basic Multilingual Plane is one, never split.
qsizetype CharacterCount(const QString& text);
QString FirstCharacters(const QString& text, qsizetype count);
// A count as the operator reads it beside the grid: digits grouped by three with commas
// ("1,000,013"), whatever the locale.
QString GroupedNumber(qint64 value);
// Converts a typed text and writes it into the field of the record being edited: numbers in
// plain decimal notation, dates and times in the user's formats, text cut to the field's size
// in characters. Throws the conversion's error, leaving the field as it was.
void SetFieldText(TField& field, const QString& text);

} // namespace sorvanto
