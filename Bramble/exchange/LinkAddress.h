#pragma once

#include <QString>

// Rules shared by everything that compares or filters link addresses.
namespace LinkAddress {

// The key under which two addresses count as the same link: scheme and host in lower case,
// a default port (80, 443, 21) dropped, the fragment dropped and one trailing slash of the
// path removed ("https://Example.com:443/a/#top" and "https://example.com/a" agree). Query and
// path otherwise stay as written. Text that is not an address is only trimmed.
QString normalized(const QString &urlString);

// An http or https address with a host: what a bookmark import keeps. place:, javascript:,
// file:, chrome:, about:, data: and addresses without a scheme are not.
bool isWebAddress(const QString &urlString);

} // namespace LinkAddress
