// Wide strings, tagged values and their conversions.

#include "browser/com/Variant.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "browser/com/Interfaces.h"
#include "browser/com/Runtime.h"

namespace bcx::com {
namespace {
std::atomic<long> gLiveStrings{0};
}
long LiveStringCount() { return gLiveStrings.load(); }
} // namespace bcx::com

// ---------------------------------------------------------------------------------------------------
// Wide strings: [u32 byte length][characters][zero].

BSTR SysAllocStringLen(const OLECHAR* text, UINT length)
{
    if (length > (std::numeric_limits<uint32_t>::max() - 8) / sizeof(OLECHAR))
        return nullptr;
    const size_t bytes = size_t(length) * sizeof(OLECHAR);
    char* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    const uint32_t prefix = static_cast<uint32_t>(bytes);
    std::memcpy(block, &prefix, sizeof prefix);
    BSTR chars = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
    if (text)
        std::memcpy(chars, text, bytes);
    else
        std::memset(chars, 0, bytes);
    chars[length] = 0;
    ++bcx::com::gLiveStrings;
    return chars;
}

BSTR SysAllocString(const OLECHAR* text)
{
    if (!text)
        return nullptr;
    UINT length = 0;
    while (text[length])
        ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text)
{
    if (!text)
        return;
    --bcx::com::gLiveStrings;
    std::free(reinterpret_cast<char*>(text) - sizeof(uint32_t));
}

UINT SysStringLen(BSTR text)
{
    if (!text)
        return 0;
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof(uint32_t), sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

// ---------------------------------------------------------------------------------------------------
// Values.

void VariantInit(VARIANTARG* v)
{
    if (!v)
        return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* v)
{
    if (!v)
        return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        switch (v->vt) {
        case VT_BSTR:
            SysFreeString(v->bstrVal);
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (v->punkVal)
                v->punkVal->Release();
            break;
        default:
            break;
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (dest == src)
        return S_OK;
    VARIANT copy = *src;
    if (!(src->vt & VT_BYREF)) {
        if (src->vt == VT_BSTR && src->bstrVal) {
            copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
            if (!copy.bstrVal)
                return E_OUTOFMEMORY;
        } else if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal) {
            src->punkVal->AddRef();
        }
    }
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

namespace {

// A value read out of a VARIANT, in one of a few shapes.
struct Scalar {
    enum Kind { Empty, Null, Int, Real, Bool, Text, Date, Object, Unsupported } kind = Unsupported;
    long long i = 0;
    double d = 0;
    std::u16string text;
    IUnknown* object = nullptr;
    VARTYPE objectType = VT_EMPTY;
};

Scalar ReadScalar(const VARIANT& v)
{
    Scalar s;
    const bool byRef = (v.vt & VT_BYREF) != 0;
    const VARTYPE type = v.vt & ~VT_BYREF;
    if (byRef && !v.byref && type != VT_EMPTY && type != VT_NULL)
        return s;
    if (v.vt & VT_ARRAY)
        return s;
    switch (type) {
    case VT_EMPTY: s.kind = Scalar::Empty; break;
    case VT_NULL: s.kind = Scalar::Null; break;
    case VT_I1: s.kind = Scalar::Int; s.i = static_cast<signed char>(byRef ? *v.pcVal : v.cVal); break;
    case VT_UI1: s.kind = Scalar::Int; s.i = byRef ? *v.pbVal : v.bVal; break;
    case VT_I2: s.kind = Scalar::Int; s.i = byRef ? *v.piVal : v.iVal; break;
    case VT_UI2: s.kind = Scalar::Int; s.i = byRef ? *v.puiVal : v.uiVal; break;
    case VT_I4:
    case VT_ERROR: s.kind = Scalar::Int; s.i = byRef ? *v.plVal : v.lVal; break;
    case VT_UI4: s.kind = Scalar::Int; s.i = byRef ? *v.pulVal : v.ulVal; break;
    case VT_INT: s.kind = Scalar::Int; s.i = byRef ? *v.pintVal : v.intVal; break;
    case VT_UINT: s.kind = Scalar::Int; s.i = byRef ? *v.puintVal : v.uintVal; break;
    case VT_I8: s.kind = Scalar::Int; s.i = byRef ? *v.pllVal : v.llVal; break;
    case VT_UI8: {
        const ULONGLONG u = byRef ? *v.pullVal : v.ullVal;
        if (u > ULONGLONG(std::numeric_limits<long long>::max())) {
            s.kind = Scalar::Real;
            s.d = double(u);
        } else {
            s.kind = Scalar::Int;
            s.i = static_cast<long long>(u);
        }
        break;
    }
    case VT_R4: s.kind = Scalar::Real; s.d = byRef ? *v.pfltVal : v.fltVal; break;
    case VT_R8: s.kind = Scalar::Real; s.d = byRef ? *v.pdblVal : v.dblVal; break;
    case VT_DATE: s.kind = Scalar::Date; s.d = byRef ? *v.pdate : v.date; break;
    case VT_BOOL: s.kind = Scalar::Bool; s.i = (byRef ? *v.pboolVal : v.boolVal) != 0; break;
    case VT_DECIMAL:
        s.kind = VarR8FromDec(byRef ? v.pdecVal : &v.decVal, &s.d) == S_OK ? Scalar::Real : Scalar::Unsupported;
        break;
    case VT_BSTR: {
        const BSTR b = byRef ? *v.pbstrVal : v.bstrVal;
        s.kind = Scalar::Text;
        if (b)
            s.text.assign(b, SysStringLen(b));
        break;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
        s.kind = Scalar::Object;
        s.object = byRef ? *v.ppunkVal : v.punkVal;
        s.objectType = type;
        break;
    case VT_VARIANT:
        if (byRef && v.pvarVal && v.pvarVal != &v && !(v.pvarVal->vt == (VT_VARIANT | VT_BYREF)))
            return ReadScalar(*v.pvarVal);
        break;
    default:
        break;
    }
    return s;
}

// Numbers in text are read and written without the locale: ASCII digits, '.', exponent.
bool ParseNumber(const std::u16string& text, double& out)
{
    std::string ascii;
    for (char16_t c : text) {
        if (c > 0x7F)
            return false;
        ascii += static_cast<char>(c);
    }
    size_t b = ascii.find_first_not_of(" \t");
    size_t e = ascii.find_last_not_of(" \t");
    if (b == std::string::npos)
        return false;
    ascii = ascii.substr(b, e - b + 1);
    for (char c : ascii)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E'))
            return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(ascii.c_str(), &end);
    return end && *end == 0 && errno == 0;
}

std::u16string Widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::u16string NumberText(const Scalar& s)
{
    char buf[64];
    if (s.kind == Scalar::Int) {
        std::snprintf(buf, sizeof buf, "%lld", s.i);
    } else {
        std::snprintf(buf, sizeof buf, "%.15g", s.d);
        if (std::strtod(buf, nullptr) != s.d)
            std::snprintf(buf, sizeof buf, "%.17g", s.d);
    }
    return Widen(buf);
}

std::u16string DateText(double date)
{
    SYSTEMTIME st;
    if (!VariantTimeToSystemTime(date, &st))
        return std::u16string();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                  st.wSecond);
    return Widen(buf);
}

// The scalar as a number, or false when it has none.
bool AsNumber(const Scalar& s, double& d, bool& integral, long long& i)
{
    switch (s.kind) {
    case Scalar::Empty: d = 0; i = 0; integral = true; return true;
    case Scalar::Int: i = s.i; d = double(s.i); integral = true; return true;
    case Scalar::Bool: i = s.i ? -1 : 0; d = double(i); integral = true; return true;
    case Scalar::Real:
    case Scalar::Date: d = s.d; integral = false; return !std::isnan(d);
    case Scalar::Text:
        integral = false;
        return ParseNumber(s.text, d) && !std::isnan(d);
    default:
        return false;
    }
}

HRESULT ToInteger(const Scalar& s, long long lo, long long hi, long long& out)
{
    double d;
    bool integral;
    long long i;
    if (!AsNumber(s, d, integral, i))
        return DISP_E_TYPEMISMATCH;
    if (!integral) {
        // Halves round to even.
        const double r = std::nearbyint(d);
        // hi + 1 is a power of two or small, so exact: a rounded value below it fits.
        if (!(r >= double(lo) && r < double(hi) + 1.0))
            return DISP_E_OVERFLOW;
        i = static_cast<long long>(r);
    }
    if (i < lo || i > hi)
        return DISP_E_OVERFLOW;
    out = i;
    return S_OK;
}

HRESULT Convert(const Scalar& s, VARTYPE vt, VARIANT& out)
{
    VariantInit(&out);
    long long i = 0;
    HRESULT hr = S_OK;
    auto integer = [&](long long lo, long long hi) {
        hr = ToInteger(s, lo, hi, i);
        return SUCCEEDED(hr);
    };
    switch (vt) {
    case VT_EMPTY:
        if (s.kind != Scalar::Empty)
            return DISP_E_TYPEMISMATCH;
        break;
    case VT_NULL:
        if (s.kind != Scalar::Empty && s.kind != Scalar::Null)
            return DISP_E_TYPEMISMATCH;
        break;
    case VT_I1: if (!integer(-128, 127)) return hr; out.cVal = static_cast<char>(i); break;
    case VT_UI1: if (!integer(0, 255)) return hr; out.bVal = static_cast<BYTE>(i); break;
    case VT_I2: if (!integer(-32768, 32767)) return hr; out.iVal = static_cast<SHORT>(i); break;
    case VT_UI2: if (!integer(0, 65535)) return hr; out.uiVal = static_cast<USHORT>(i); break;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
        if (!integer(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()))
            return hr;
        out.lVal = static_cast<LONG>(i);
        break;
    case VT_UI4:
    case VT_UINT: if (!integer(0, 0xFFFFFFFFLL)) return hr; out.ulVal = static_cast<ULONG>(i); break;
    case VT_I8:
        if (!integer(std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max()))
            return hr;
        out.llVal = i;
        break;
    case VT_UI8: if (!integer(0, std::numeric_limits<long long>::max())) return hr; out.ullVal = ULONGLONG(i); break;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
    case VT_DECIMAL: {
        double d;
        bool integral;
        if (!AsNumber(s, d, integral, i))
            return DISP_E_TYPEMISMATCH;
        if (vt == VT_R4) {
            if (std::fabs(d) > std::numeric_limits<float>::max() && !std::isinf(d))
                return DISP_E_OVERFLOW;
            out.fltVal = static_cast<float>(d);
        } else if (vt == VT_R8) {
            out.dblVal = d;
        } else if (vt == VT_DATE) {
            SYSTEMTIME st;
            if (!VariantTimeToSystemTime(d, &st))
                return DISP_E_OVERFLOW;
            out.date = d;
        } else {
            hr = VarDecFromR8(d, &out.decVal);
            if (FAILED(hr))
                return hr;
        }
        break;
    }
    case VT_BOOL: {
        if (s.kind == Scalar::Text) {
            if (s.text == u"True" || s.text == u"true") {
                out.boolVal = VARIANT_TRUE;
                break;
            }
            if (s.text == u"False" || s.text == u"false") {
                out.boolVal = VARIANT_FALSE;
                break;
            }
        }
        double d;
        bool integral;
        if (!AsNumber(s, d, integral, i))
            return DISP_E_TYPEMISMATCH;
        out.boolVal = (integral ? i != 0 : d != 0) ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    }
    case VT_BSTR: {
        std::u16string text;
        switch (s.kind) {
        case Scalar::Empty: break;
        case Scalar::Text: text = s.text; break;
        case Scalar::Bool: text = s.i ? u"True" : u"False"; break;
        case Scalar::Int:
        case Scalar::Real: text = NumberText(s); break;
        case Scalar::Date:
            text = DateText(s.d);
            if (text.empty())
                return DISP_E_OVERFLOW;
            break;
        default: return DISP_E_TYPEMISMATCH;
        }
        out.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!out.bstrVal)
            return E_OUTOFMEMORY;
        break;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
        if (s.kind != Scalar::Object || (vt == VT_DISPATCH && s.objectType != VT_DISPATCH))
            return DISP_E_TYPEMISMATCH;
        out.punkVal = s.object;
        if (out.punkVal)
            out.punkVal->AddRef();
        break;
    default:
        return DISP_E_BADVARTYPE;
    }
    out.vt = vt;
    return S_OK;
}

} // namespace

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT, VARTYPE vt)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (vt & (VT_BYREF | VT_ARRAY))
        return DISP_E_BADVARTYPE;
    if (src->vt == vt)
        return VariantCopy(dest, src);
    const Scalar s = ReadScalar(*src);
    if (s.kind == Scalar::Unsupported)
        return DISP_E_BADVARTYPE;
    VARIANT converted;
    const HRESULT hr = Convert(s, vt, converted);
    if (FAILED(hr))
        return hr;
    VariantClear(dest);
    *dest = converted;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------
// OLE dates.

namespace {

constexpr double kMinDate = -657434.0;          // 0100-01-01
constexpr double kMaxDate = 2958466.0;          // 10000-01-01, exclusive
constexpr long long kEpochOffset = 25569;       // days from 1899-12-30 to 1970-01-01

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

bool IsLeap(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(long long y, unsigned m)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

} // namespace

INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* st)
{
    if (!st || std::isnan(date) || date < kMinDate || date >= kMaxDate)
        return FALSE;
    double dayPart = std::trunc(date);
    long long seconds = std::llround(std::fabs(date - dayPart) * 86400.0);
    long long day = static_cast<long long>(dayPart);
    if (seconds >= 86400) {
        ++day;
        seconds = 0;
    }
    long long y;
    unsigned m, d;
    CivilFromDays(day - kEpochOffset, y, m, d);
    if (y < 100 || y > 9999)
        return FALSE;
    st->wYear = static_cast<WORD>(y);
    st->wMonth = static_cast<WORD>(m);
    st->wDay = static_cast<WORD>(d);
    st->wDayOfWeek = static_cast<WORD>(((day - kEpochOffset) % 7 + 7 + 4) % 7);
    st->wHour = static_cast<WORD>(seconds / 3600);
    st->wMinute = static_cast<WORD>(seconds / 60 % 60);
    st->wSecond = static_cast<WORD>(seconds % 60);
    st->wMilliseconds = 0;
    return TRUE;
}

INT SystemTimeToVariantTime(SYSTEMTIME* st, DATE* date)
{
    if (!st || !date)
        return FALSE;
    if (st->wYear < 100 || st->wYear > 9999 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
        st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59)
        return FALSE;
    const long long day = DaysFromCivil(st->wYear, st->wMonth, st->wDay) + kEpochOffset;
    const double fraction = (st->wHour * 3600.0 + st->wMinute * 60.0 + st->wSecond) / 86400.0;
    *date = day >= 0 ? double(day) + fraction : double(day) - fraction;
    return TRUE;
}

// ---------------------------------------------------------------------------------------------------
// Decimals.

HRESULT VarR8FromDec(const DECIMAL* dec, double* out)
{
    if (!dec || !out)
        return E_INVALIDARG;
    if (dec->scale > 28 || (dec->sign & ~DECIMAL_NEG))
        return E_INVALIDARG;
    double value = double(dec->Hi32) * 18446744073709551616.0 + double(dec->Lo64);
    value /= std::pow(10.0, dec->scale);
    *out = (dec->sign & DECIMAL_NEG) ? -value : value;
    return S_OK;
}

HRESULT VarDecFromR8(double value, DECIMAL* out)
{
    if (!out)
        return E_INVALIDARG;
    if (std::isnan(value) || std::fabs(value) >= 7.9228162514264337593543950335e28)
        return DISP_E_OVERFLOW;
    DECIMAL dec{};
    if (value < 0)
        dec.sign = DECIMAL_NEG;
    // Fifteen significant digits, as the double holds them.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    unsigned __int128 mantissa = 0;
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            mantissa = mantissa * 10 + unsigned(*p - '0');
    const int exponent = std::atoi(p + 1);
    int scale = 14 - exponent;
    while (scale < 0) {
        mantissa *= 10;
        ++scale;
    }
    while (scale > 28) {
        mantissa = (mantissa + 5) / 10;
        --scale;
    }
    while (scale > 0 && mantissa % 10 == 0) {
        mantissa /= 10;
        --scale;
    }
    if (mantissa == 0)
        dec.sign = 0, scale = 0;
    dec.scale = static_cast<BYTE>(scale);
    dec.Lo64 = static_cast<ULONGLONG>(mantissa);
    dec.Hi32 = static_cast<ULONG>(mantissa >> 64);
    *out = dec;
    return S_OK;
}
