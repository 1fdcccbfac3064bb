#include "Cairn/CurrencyRates.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace Cairn {

namespace {
    struct Rate
    {
        const char *code;
        double perUSD;
    };

    // Units per US dollar, sorted by code. EUR, GBP, JPY, CNY, CHF, CAD, AUD and INR and the
    // pegged currencies (BMD, BSD, PAB, BBD, BZD, SAR and the other fixed pegs) are exact. The
    // rest are approximate mid-market rates of early 2025, written from memory without access
    // to a live table; currencies pegged to the euro, pound, Danish krone, Australian dollar or
    // rupee follow the rates above. HRK and SLL are withdrawn but still appear on older
    // receipts; ZWL follows its 2024 successor.
    constexpr std::array<Rate, 161> kRates { {
        { "AED", 3.6725 },
        { "AFN", 73.5 },
        { "ALL", 94.5 },
        { "AMD", 395.0 },
        { "ANG", 1.79 },
        { "AOA", 918.0 },
        { "ARS", 1055.0 },
        { "AUD", 1.5742 },
        { "AWG", 1.79 },
        { "AZN", 1.7 },
        { "BAM", 1.8645 },
        { "BBD", 2.0 },
        { "BDT", 121.5 },
        { "BGN", 1.8645 },
        { "BHD", 0.376 },
        { "BIF", 2960.0 },
        { "BMD", 1.0 },
        { "BND", 1.35 },
        { "BOB", 6.91 },
        { "BRL", 5.78 },
        { "BSD", 1.0 },
        { "BTN", 86.7955 },
        { "BWP", 13.85 },
        { "BYN", 3.27 },
        { "BZD", 2.0 },
        { "CAD", 1.4182 },
        { "CDF", 2850.0 },
        { "CHF", 0.8997 },
        { "CLP", 955.0 },
        { "CNY", 7.2626 },
        { "COP", 4130.0 },
        { "CRC", 506.0 },
        { "CUP", 24.0 },
        { "CVE", 105.1156 },
        { "CZK", 24.05 },
        { "DJF", 177.721 },
        { "DKK", 7.1108 },
        { "DOP", 62.0 },
        { "DZD", 135.2 },
        { "EGP", 50.3 },
        { "ERN", 15.0 },
        { "ETB", 126.0 },
        { "EUR", 0.9533 },
        { "FJD", 2.31 },
        { "FKP", 0.7948 },
        { "FOK", 7.1108 },
        { "GBP", 0.7948 },
        { "GEL", 2.82 },
        { "GGP", 0.7948 },
        { "GHS", 15.4 },
        { "GIP", 0.7948 },
        { "GMD", 72.5 },
        { "GNF", 8630.0 },
        { "GTQ", 7.72 },
        { "GYD", 209.0 },
        { "HKD", 7.79 },
        { "HNL", 25.5 },
        { "HRK", 7.1826 },
        { "HTG", 131.0 },
        { "HUF", 385.0 },
        { "IDR", 16300.0 },
        { "ILS", 3.56 },
        { "IMP", 0.7948 },
        { "INR", 86.7955 },
        { "IQD", 1310.0 },
        { "IRR", 42000.0 },
        { "ISK", 139.5 },
        { "JEP", 0.7948 },
        { "JMD", 157.5 },
        { "JOD", 0.709 },
        { "JPY", 152.3479 },
        { "KES", 129.2 },
        { "KGS", 87.45 },
        { "KHR", 4020.0 },
        { "KID", 1.5742 },
        { "KMF", 468.9929 },
        { "KRW", 1450.0 },
        { "KWD", 0.3085 },
        { "KYD", 0.8333 },
        { "KZT", 515.0 },
        { "LAK", 21800.0 },
        { "LBP", 89500.0 },
        { "LKR", 297.0 },
        { "LRD", 198.0 },
        { "LSL", 18.4 },
        { "LYD", 4.91 },
        { "MAD", 10.0 },
        { "MDL", 18.8 },
        { "MGA", 4700.0 },
        { "MKD", 58.63 },
        { "MMK", 2100.0 },
        { "MNT", 3420.0 },
        { "MOP", 8.03 },
        { "MRU", 39.9 },
        { "MUR", 46.6 },
        { "MVR", 15.42 },
        { "MWK", 1740.0 },
        { "MXN", 20.5 },
        { "MYR", 4.45 },
        { "MZN", 63.9 },
        { "NAD", 18.4 },
        { "NGN", 1500.0 },
        { "NIO", 36.8 },
        { "NOK", 11.2 },
        { "NPR", 138.87 },
        { "NZD", 1.76 },
        { "OMR", 0.3845 },
        { "PAB", 1.0 },
        { "PEN", 3.7 },
        { "PGK", 4.02 },
        { "PHP", 58.0 },
        { "PKR", 279.0 },
        { "PLN", 4.02 },
        { "PYG", 7900.0 },
        { "QAR", 3.64 },
        { "RON", 4.74 },
        { "RSD", 111.6 },
        { "RUB", 97.0 },
        { "RWF", 1400.0 },
        { "SAR", 3.75 },
        { "SBD", 8.45 },
        { "SCR", 14.4 },
        { "SDG", 545.0 },
        { "SEK", 10.9 },
        { "SGD", 1.35 },
        { "SHP", 0.7948 },
        { "SLE", 22.7 },
        { "SLL", 22700.0 },
        { "SOS", 571.0 },
        { "SRD", 35.2 },
        { "SSP", 4400.0 },
        { "STN", 23.3559 },
        { "SYP", 13000.0 },
        { "SZL", 18.4 },
        { "THB", 33.9 },
        { "TJS", 10.93 },
        { "TMT", 3.5 },
        { "TND", 3.19 },
        { "TOP", 2.38 },
        { "TRY", 35.9 },
        { "TTD", 6.78 },
        { "TVD", 1.5742 },
        { "TWD", 32.8 },
        { "TZS", 2540.0 },
        { "UAH", 41.6 },
        { "UGX", 3680.0 },
        { "UYU", 43.6 },
        { "UZS", 12950.0 },
        { "VES", 60.0 },
        { "VND", 25300.0 },
        { "VUV", 122.0 },
        { "WST", 2.82 },
        { "XAF", 625.3238 },
        { "XCD", 2.7 },
        { "XDR", 0.766 },
        { "XOF", 625.3238 },
        { "XPF", 113.7588 },
        { "YER", 249.0 },
        { "ZAR", 18.4 },
        { "ZMW", 28.1 },
        { "ZWL", 26.5 },
    } };
} // namespace

std::optional<double> currencyRatePerUSD(const QString &currencyCode)
{
    const QByteArray code = currencyCode.toLatin1();
    const auto it = std::lower_bound(
        kRates.begin(), kRates.end(), code, [](const Rate &rate, const QByteArray &wanted) {
            return std::strcmp(rate.code, wanted.constData()) < 0;
        });
    if (it == kRates.end() || code != it->code)
        return std::nullopt;
    return it->perUSD;
}

int currencyRateCount()
{
    return int(kRates.size());
}

double usdAmount(double price, const std::optional<QString> &currencyCode)
{
    if (!currencyCode)
        return 0.0;
    if (*currencyCode == QLatin1String("USD"))
        return price;
    const auto rate = currencyRatePerUSD(*currencyCode);
    return rate && *rate > 0 ? price / *rate : 0.0;
}

} // namespace Cairn
