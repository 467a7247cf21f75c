// SPDX-License-Identifier: GPL-3.0-or-later
// Reading numbers from the settings (Val, ValInt16) against a reference parser
// written from the rules alone: leading blanks and tabs, an optional sign, ASCII
// digits with an optional fraction, nothing else; any other text reads as 0; a
// magnitude beyond a double reads as 0; the 16-bit reading rounds halves to even
// and is held within the 16-bit range. A number written as signed text reads back
// as itself.
//
// The input is tried as UTF-8, as Latin-1 and as raw UTF-16 code units, so that
// non-ASCII digits, surrogates and odd blanks all reach the reader.
#include "setup/SettingsKeys.h"

#include <QString>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace tandrel;

namespace {

double refVal(const QString& text)
{
    std::string ascii;
    qsizetype i = 0;
    while (i < text.size() && (text[i].unicode() == ' ' || text[i].unicode() == '\t'))
        ++i;
    if (i < text.size() && (text[i].unicode() == '+' || text[i].unicode() == '-'))
        ascii.push_back(static_cast<char>(text[i++].unicode()));
    bool anyDigit = false;
    auto digits = [&] {
        while (i < text.size() && text[i].unicode() >= '0' && text[i].unicode() <= '9') {
            ascii.push_back(static_cast<char>(text[i++].unicode()));
            anyDigit = true;
        }
    };
    digits();
    if (i < text.size() && text[i].unicode() == '.') {
        ascii.push_back('.');
        ++i;
        digits();
    }
    if (!anyDigit)
        return 0.0;
    const double v = std::strtod(ascii.c_str(), nullptr);
    return std::isfinite(v) ? v : 0.0;
}

std::int16_t refInt16(double v)
{
    double r = std::floor(v);
    const double frac = v - r;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0.0))
        r += 1.0;
    if (r < -32768.0)
        return -32768;
    if (r > 32767.0)
        return 32767;
    return static_cast<std::int16_t>(r);
}

void check(bool ok, const QString& text, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "model mismatch (%s) for \"%s\"\n", what, qUtf8Printable(text));
        std::abort();
    }
}

void checkOne(const QString& text)
{
    const double got = settings::Val(text);
    const double want = refVal(text);
    // Below the normal range the two parsers may round to 0 or keep the denormal.
    const bool tiny = std::fabs(want) < DBL_MIN && std::fabs(got) < DBL_MIN;
    check(got == want || tiny, text, "Val");
    check(settings::ValInt16(text) == refInt16(want), text, "ValInt16");

    const std::int16_t n = settings::ValInt16(text);
    check(settings::Val(settings::SignedText(n)) == n, text, "SignedText reads back");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The settings never depend on the user's locale.
    std::setlocale(LC_ALL, "C");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* chars = reinterpret_cast<const char*>(data);
    const auto n = static_cast<qsizetype>(size);
    checkOne(QString::fromUtf8(chars, n));
    checkOne(QString::fromLatin1(chars, n));
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    checkOne(QString::fromStdU16String(units));
    return 0;
}
