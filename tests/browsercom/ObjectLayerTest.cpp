// The object layer on its own where the container tests do not reach: text beyond the basic plane, the
// class registry's failures, value conversions, OLE dates and decimals.

#include <cmath>
#include <cstring>
#include <tuple>

#include <gtest/gtest.h>

#include "browser/com/Object.h"
#include "browser/com/Runtime.h"
#include "browser/com/Variant.h"
#include "browser/com/WideText.h"
#include "browsercom/FakeControl.h"

using namespace bcx::com;
using bcxtest::FakeControlRecord;
using bcxtest::ScopedFakeControlClass;
using bcxtest::CLSID_FakeControl;

namespace {

VARIANT Of(VARTYPE vt, double number, const char16_t* text = nullptr)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    if (vt == VT_BSTR)
        v.bstrVal = SysAllocString(text);
    else if (vt == VT_BOOL)
        v.boolVal = number ? VARIANT_TRUE : VARIANT_FALSE;
    else
        v.dblVal = number;
    return v;
}

std::u16string Text(const VARIANT& v)
{
    return v.bstrVal ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : std::u16string();
}

} // namespace

TEST(ObjectLayer, WideStringsKeepTheirLengthAndTextThroughTheToolkit)
{
    // Beyond the basic plane (a surrogate pair) and CJK text both ways.
    const wxString text = wxString::FromUTF8("\xE7\x9B\xB4\xE6\x92\xAD \xF0\x9F\x8E\xAE");
    BSTR wide = ToBstr(text);
    EXPECT_EQ(SysStringLen(wide), 5u);
    EXPECT_EQ(FromBstr(wide), text);
    SysFreeString(wide);
    EXPECT_EQ(LiveStringCount(), 0);
}

TEST(ObjectLayer, ClassRegistryCreatesAndFreesWhatItCannotHandOut)
{
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_FakeControl, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(out, nullptr);

    FakeControlRecord record;
    ScopedFakeControlClass registered(record);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FakeControl, nullptr, 7, IID_IDispatch, reinterpret_cast<void**>(&dispatch)),
              S_OK);
    EXPECT_GT(LiveObjectCount(), 1) << "the control and the allocator its guard holds";
    EXPECT_EQ(CoCreateInstance(CLSID_FakeControl, dispatch, 7, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(dispatch->Release(), 0u);
    EXPECT_EQ(LiveObjectCount(), 0);

    // An interface the class lacks: the new object is freed.
    EXPECT_EQ(CoCreateInstance(CLSID_FakeControl, nullptr, 7, IID_IStream, &out), E_NOINTERFACE);
    EXPECT_EQ(LiveObjectCount(), 0);
    EXPECT_EQ(record.live, nullptr);
}

TEST(ObjectLayer, ValuesChangeTypeWithoutTheLocaleAndFailWithoutChangingTheTarget)
{
    // Halves round to even; what does not fit or parse fails and leaves the target as it was (an I2 of 9).
    struct {
        VARIANT from;
        VARTYPE to;
        HRESULT result;
        LONG number;
        const char16_t* text;
    } cases[] = {
        {Of(VT_BSTR, 0, u" 42 "), VT_I4, S_OK, 42, nullptr},
        {Of(VT_R8, 2.5), VT_I2, S_OK, 2, nullptr},
        {Of(VT_R8, 70000), VT_I2, DISP_E_OVERFLOW, 9, nullptr},
        {Of(VT_R8, 9223372036854775808.0), VT_I8, DISP_E_OVERFLOW, 9, nullptr},
        {Of(VT_BSTR, 0, u"twelve"), VT_R8, DISP_E_TYPEMISMATCH, 9, nullptr},
        {Of(VT_R8, 0.1), VT_BSTR, S_OK, 0, u"0.1"},
        {Of(VT_BOOL, 1), VT_BSTR, S_OK, 0, u"True"},
        {Of(VT_BOOL, 1), VT_I4, S_OK, -1, nullptr},
    };
    for (auto& c : cases) {
        VARIANT v = Of(VT_I2, 0);
        v.iVal = 9;
        EXPECT_EQ(VariantChangeType(&v, &c.from, 0, c.to), c.result) << int(c.to);
        if (c.text)
            EXPECT_EQ(Text(v), c.text);
        else
            EXPECT_EQ(v.vt == VT_I2 ? LONG(v.iVal) : v.lVal, c.number) << int(c.to);
        VariantClear(&v);
        VariantClear(&c.from);
    }

    // In place, through a reference.
    LONG referenced = 7;
    VARIANT ref = Of(VT_I4 | VT_BYREF, 0);
    ref.plVal = &referenced;
    ASSERT_EQ(VariantChangeType(&ref, &ref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(ref), u"7");
    VariantClear(&ref);
    EXPECT_EQ(LiveStringCount(), 0);
}

TEST(ObjectLayer, DatesCountDaysFromTheEndOf1899WithTheTimeAsFractionEvenBeforeIt)
{
    // The fraction is the time also for negative dates; the time rounds to the second, across midnight.
    const struct {
        DATE date;
        SYSTEMTIME parts;
    } dates[] = {
        {0.0, {1899, 12, 6, 30, 0, 0, 0, 0}},
        {-1.25, {1899, 12, 5, 29, 6, 0, 0, 0}},
        {2.5, {1900, 1, 1, 1, 12, 0, 0, 0}},
        {1.0 - 0.1 / 86400.0, {1899, 12, 0, 31, 0, 0, 0, 0}},
    };
    for (const auto& d : dates) {
        SYSTEMTIME st{};
        ASSERT_TRUE(VariantTimeToSystemTime(d.date, &st)) << d.date;
        EXPECT_EQ(std::memcmp(&st, &d.parts, sizeof st), 0) << d.date << ": " << st.wYear << "-" << st.wMonth << "-"
                                                            << st.wDay << " " << st.wHour << " day " << st.wDayOfWeek;
        DATE back = 0;
        SYSTEMTIME parts = d.parts;
        ASSERT_TRUE(SystemTimeToVariantTime(&parts, &back));
        EXPECT_NEAR(back, d.date, 1.0 / 86400) << d.date;
    }

    // Milliseconds are not kept.
    SYSTEMTIME leap{2024, 2, 0, 29, 23, 59, 58, 999}, st{};
    DATE date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&leap, &date));
    ASSERT_TRUE(VariantTimeToSystemTime(date, &st));
    const SYSTEMTIME expected{2024, 2, 4, 29, 23, 59, 58, 0};
    EXPECT_EQ(std::memcmp(&st, &expected, sizeof st), 0);

    for (SYSTEMTIME bad : {SYSTEMTIME{1900, 2, 0, 29, 0, 0, 0, 0}, SYSTEMTIME{2000, 13, 0, 1, 0, 0, 0, 0},
                           SYSTEMTIME{99, 12, 0, 31, 0, 0, 0, 0}})
        EXPECT_FALSE(SystemTimeToVariantTime(&bad, &date)) << bad.wYear << "-" << bad.wMonth;
    for (DATE bad : {3e6, -700000.0, std::nan("")})
        EXPECT_FALSE(VariantTimeToSystemTime(bad, &st)) << bad;
}

TEST(ObjectLayer, DecimalsHoldFifteenDigitsOfADoubleAndOverflowBeyondNinetySixBits)
{
    const struct {
        double value;
        BYTE scale, sign;
        ULONGLONG lo;
        ULONG hi;
    } decimals[] = {{-1.25, 2, DECIMAL_NEG, 125, 0}, {0.1, 1, 0, 1, 0}, {1e20, 0, 0, 7766279631452241920ull, 5}};
    for (const auto& d : decimals) {
        DECIMAL dec{};
        ASSERT_EQ(VarDecFromR8(d.value, &dec), S_OK);
        EXPECT_EQ(std::make_tuple(dec.scale, dec.sign, dec.Lo64, dec.Hi32), std::make_tuple(d.scale, d.sign, d.lo, d.hi));
        double back = 0;
        ASSERT_EQ(VarR8FromDec(&dec, &back), S_OK);
        EXPECT_DOUBLE_EQ(back, d.value);
    }
    DECIMAL dec{};
    EXPECT_EQ(VarDecFromR8(1e29, &dec), DISP_E_OVERFLOW);
    dec.scale = 29;
    double back = 0;
    EXPECT_EQ(VarR8FromDec(&dec, &back), E_INVALIDARG);
}
