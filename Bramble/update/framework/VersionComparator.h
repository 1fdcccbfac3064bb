#pragma once

#include <QString>

// Compares build versions component by component: 1.10 > 1.9, 1.5.1 > 1.5, 1.5 == 1.5.0,
// 2.0 > 2.0b1. Returns <0, 0 or >0.
int compareVersions(const QString &left, const QString &right);
