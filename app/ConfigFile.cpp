#include "app/ConfigFile.h"

#include "app/Module1.h"

#include <QDir>

QString ConfigFilePath(const Module1& m) {
    return m.AppDirectory + QLatin1Char('/') + QStringLiteral("VELLORAN.CFG");
}

void ReadConfigFile(Module1&) {}
void WriteConfigFile(const Module1&) {}
