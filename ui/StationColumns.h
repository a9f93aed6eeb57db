#pragma once

#include <QString>

class ElidedLabel;
class QBoxLayout;
class QToolButton;
class QWidget;

// The columns of the station's header and of every row, in pixels; the
// messages take what is left. Narrow enough for a 1280-pixel screen.
namespace StationColumns {
enum Column { State, Board, Progress, Message, Type, Id, Records, Rate, Result, Columns };
inline constexpr int Widths[Columns] = {90, 96, 140, 0, 40, 64, 76, 66, 110};
// Set on each line: a layout inside another takes its parent's spacing.
inline constexpr int Gap = 5;
// A cell of the column's width (the message column stretching), added to `line`.
ElidedLabel* Cell(QBoxLayout* line, Column column, const QString& text = {});
// The row's buttons, as the header reserves their room.
QToolButton* SmallButton(const QString& text);
inline const char* const Buttons[] = {"Start", "Transcript", "Up", "Down", "Remove"};
// The titles over the columns, with the room of the rows' buttons and of
// `scrollBar` pixels beside them, so that each stands over its cells.
QWidget* Titles(int scrollBar);
} // namespace StationColumns
