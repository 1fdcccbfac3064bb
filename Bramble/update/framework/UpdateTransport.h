#pragma once

#include <QUrl>

// Only https leaves the machine; plain http is accepted for the loopback addresses
// 127.0.0.1 and ::1 alone (test feeds). Shared by the program and the release tool.
bool isPermittedUpdateTransport(const QUrl &url);
