#pragma once

#include <QString>

// The corvane-exec helper of the launcher whose program file lies in programFolder: beside it
// (the build folder, or a copied launcher), else where the install put it
// (<prefix>/bin/../libexec/corvane-launcher/).
QString LocateTrampoline(const QString& programFolder);
