// How the grid reads the bytes of a cell as text: as UTF-8 when they are
// valid UTF-8, otherwise as Windows-1252. Cells keep the bytes as read, so an
// action addresses exactly the file that was listed; only the display, the
// tooltips and the edit box see the text.
#pragma once

#include <QString>
#include <string_view>

enum class CellCharset { kUtf8, kWindows1252 };

// kUtf8 when `bytes` are valid UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF; plain ASCII included), else kWindows1252.
CellCharset CellCharsetOf(std::string_view bytes);

// `bytes` in `charset`; Windows-1252's five unassigned bytes become the C1
// controls of the same value, so every byte shows as one character.
QString DecodeCellBytes(std::string_view bytes, CellCharset charset);

// Both in one: the text the grid shows for a cell.
QString DecodeCellText(std::string_view bytes);
