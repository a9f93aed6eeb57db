#pragma once

struct Module1;
class QString;

// VELLORAN.CFG in AppDirectory: read once at start-up over the defaults,
// written back when the operator agrees on closing. Neither ever complains.
void ReadConfigFile(Module1& m);
void WriteConfigFile(const Module1& m);

// Where the configuration file lives.
QString ConfigFilePath(const Module1& m);
