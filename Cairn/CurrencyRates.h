#pragma once

#include <QString>
#include <optional>

namespace Cairn {

// Units of the currency per US dollar, by exact ISO 4217 code; absent for codes not in the
// table (US dollars themselves are not in it).
std::optional<double> currencyRatePerUSD(const QString &currencyCode);
int currencyRateCount();
// The amount in US dollars: unchanged for "USD", divided by the rate otherwise, 0 when the
// currency is absent or unknown.
double usdAmount(double price, const std::optional<QString> &currencyCode);

} // namespace Cairn
