#pragma once

#include <QString>

struct Context;
class QLabel;

// Lets the operator choose the load file; updates LoadFileName (upper case),
// LoadFileDirectory, SettingsChanged and lblFile.
void SelectLoadFile(Context& ctx, QLabel& lblFile);

// The first stage of a run: the load file exists and its first line begins
// with "%". On success it is left open in ctx.LoadFileStream at its first line.
void ValidateLoadFile(Context& ctx);

// The directory part of a path: everything before its last separator.
QString DirectoryOf(const QString& path);
