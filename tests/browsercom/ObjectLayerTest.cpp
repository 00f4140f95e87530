// The object layer on its own: wide strings, initialisation and the allocator, the class registry,
// reference counting, value conversions, OLE dates and decimals.

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "browser/com/Object.h"
#include "browser/com/Runtime.h"
#include "browser/com/Variant.h"
#include "browser/com/WideText.h"

using namespace bcx::com;

namespace {

constexpr CLSID kCounted = {0x0BC0C0C0, 1, 1, {9, 9, 9, 9, 9, 9, 9, 9}};

class Counted final : public ComObject<IDispatch> {
public:
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

protected:
    void* FindInterface(REFIID iid) override
    {
        return iid == IID_IUnknown || iid == IID_IDispatch ? static_cast<IDispatch*>(this) : nullptr;
    }
};

VARIANT Bstr(const char16_t* text)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

std::u16string Text(const VARIANT& v)
{
    return v.bstrVal ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : std::u16string();
}

SYSTEMTIME DateParts(DATE date)
{
    SYSTEMTIME st{};
    EXPECT_TRUE(VariantTimeToSystemTime(date, &st)) << date;
    return st;
}

} // namespace

TEST(ObjectLayer, WideStringsKeepTheirLengthAndTextThroughTheToolkit)
{
    const char16_t withZero[] = {u'a', 0, u'b'};
    BSTR b = SysAllocStringLen(withZero, 3);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(b[3], 0);
    EXPECT_EQ(LiveStringCount(), 1);
    SysFreeString(b);
    EXPECT_EQ(SysStringLen(nullptr), 0u);

    // Beyond the basic plane (a surrogate pair) and CJK text both ways.
    const wxString text = wxString::FromUTF8("\xE7\x9B\xB4\xE6\x92\xAD \xF0\x9F\x8E\xAE");
    BSTR wide = ToBstr(text);
    EXPECT_EQ(SysStringLen(wide), 5u);
    EXPECT_EQ(FromBstr(wide), text);
    SysFreeString(wide);
    EXPECT_EQ(LiveStringCount(), 0);
}

TEST(ObjectLayer, GuardsInitialiseTheLayerAndShareOneAllocator)
{
    {
        OleInitGuard first;
        EXPECT_EQ(InitializeDepth(), 1);
        EXPECT_EQ(LiveObjectCount(), 1) << "the task allocator";
        {
            OleInitGuard second;
            EXPECT_EQ(InitializeDepth(), 2);
            EXPECT_EQ(LiveObjectCount(), 1);
            IMalloc* malloc = nullptr;
            ASSERT_EQ(CoGetMalloc(1, &malloc), S_OK);
            void* block = malloc->Alloc(16);
            ASSERT_NE(block, nullptr);
            malloc->Free(block);
            malloc->Release();
        }
        EXPECT_EQ(LiveObjectCount(), 1);
    }
    EXPECT_EQ(InitializeDepth(), 0);
    EXPECT_EQ(LiveObjectCount(), 0);
    EXPECT_EQ(CoGetMalloc(0, nullptr), E_INVALIDARG);
}

TEST(ObjectLayer, ClassRegistryCreatesQueriesAndFreesWhatItCannotHandOut)
{
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(kCounted, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(out, nullptr);

    RegisterClass(kCounted, [] { return static_cast<IUnknown*>(static_cast<IDispatch*>(new Counted)); });
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(CoCreateInstance(kCounted, nullptr, 7, IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(LiveObjectCount(), 2) << "the object and the allocator its guard holds";

    // Reference counting: QueryInterface adds one, Release below 1 does nothing.
    IUnknown* unknown = nullptr;
    EXPECT_EQ(dispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown->Release(), 1u);
    EXPECT_EQ(dispatch->QueryInterface(IID_IStream, reinterpret_cast<void**>(&unknown)), E_NOINTERFACE);
    EXPECT_EQ(unknown, nullptr);
    EXPECT_EQ(dispatch->QueryInterface(IID_IUnknown, nullptr), E_FAIL);
    EXPECT_EQ(dispatch->Release(), 0u);
    EXPECT_EQ(LiveObjectCount(), 0);

    // An interface the class lacks: the new object is freed.
    EXPECT_EQ(CoCreateInstance(kCounted, nullptr, 7, IID_IStream, &out), E_NOINTERFACE);
    EXPECT_EQ(LiveObjectCount(), 0);
    Counted outer;
    EXPECT_EQ(CoCreateInstance(kCounted, static_cast<IDispatch*>(&outer), 7, IID_IUnknown, &out),
              CLASS_E_NOAGGREGATION);
    UnregisterClass(kCounted);
}

TEST(ObjectLayer, ValuesChangeTypeWithoutTheLocaleAndFailWithoutChangingTheTarget)
{
    VARIANT text = Bstr(u" 42 ");
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(VariantChangeType(&v, &text, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 42);

    // Halves round to even; out of range overflows and leaves the target as it was.
    VARIANT real;
    VariantInit(&real);
    real.vt = VT_R8;
    real.dblVal = 2.5;
    ASSERT_EQ(VariantChangeType(&v, &real, 0, VT_I2), S_OK);
    EXPECT_EQ(v.iVal, 2);
    real.dblVal = 70000;
    EXPECT_EQ(VariantChangeType(&v, &real, 0, VT_I2), DISP_E_OVERFLOW);
    EXPECT_EQ(v.vt, VT_I2);
    EXPECT_EQ(v.iVal, 2);
    real.dblVal = 9223372036854775808.0;
    EXPECT_EQ(VariantChangeType(&v, &real, 0, VT_I8), DISP_E_OVERFLOW) << "2^63 does not fit";

    real.dblVal = 0.1;
    ASSERT_EQ(VariantChangeType(&v, &real, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(v), u"0.1");
    VARIANT flag;
    VariantInit(&flag);
    flag.vt = VT_BOOL;
    flag.boolVal = VARIANT_TRUE;
    ASSERT_EQ(VariantChangeType(&v, &flag, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(v), u"True");
    ASSERT_EQ(VariantChangeType(&v, &flag, 0, VT_I4), S_OK);
    EXPECT_EQ(v.lVal, -1);

    VARIANT word = Bstr(u"twelve");
    EXPECT_EQ(VariantChangeType(&v, &word, 0, VT_R8), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(v.vt, VT_I4);

    // In place, through a reference.
    LONG referenced = 7;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &referenced;
    ASSERT_EQ(VariantChangeType(&ref, &ref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(ref), u"7");

    // Copies own their strings.
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
    EXPECT_NE(copy.bstrVal, text.bstrVal);
    EXPECT_EQ(Text(copy), u" 42 ");
    for (VARIANT* each : {&text, &v, &word, &ref, &copy})
        VariantClear(each);
    EXPECT_EQ(LiveStringCount(), 0);
}

TEST(ObjectLayer, DatesCountDaysFromTheEndOf1899WithTheTimeAsFractionEvenBeforeIt)
{
    SYSTEMTIME st = DateParts(0.0);
    EXPECT_EQ(st.wYear, 1899);
    EXPECT_EQ(st.wMonth, 12);
    EXPECT_EQ(st.wDay, 30);
    EXPECT_EQ(st.wDayOfWeek, 6) << "a Saturday";

    st = DateParts(-1.25);
    EXPECT_EQ(st.wDay, 29);
    EXPECT_EQ(st.wHour, 6) << "the fraction is the time also for negative dates";

    st = DateParts(2.5);
    EXPECT_EQ(st.wYear, 1900);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wHour, 12);

    // Rounds to the second, across midnight.
    st = DateParts(1.0 - 0.1 / 86400.0);
    EXPECT_EQ(st.wDay, 31);
    EXPECT_EQ(st.wHour, 0);

    SYSTEMTIME leap{2024, 2, 0, 29, 23, 59, 58, 999};
    DATE date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&leap, &date));
    st = DateParts(date);
    EXPECT_EQ(st.wMonth, 2);
    EXPECT_EQ(st.wDay, 29);
    EXPECT_EQ(st.wSecond, 58);
    EXPECT_EQ(st.wMilliseconds, 0) << "milliseconds are not kept";
    EXPECT_EQ(st.wDayOfWeek, 4);

    SYSTEMTIME before{1899, 12, 0, 29, 6, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToVariantTime(&before, &date));
    EXPECT_DOUBLE_EQ(date, -1.25);

    SYSTEMTIME noLeap{1900, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToVariantTime(&noLeap, &date));
    SYSTEMTIME badMonth{2000, 13, 0, 1, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToVariantTime(&badMonth, &date));
    SYSTEMTIME tooEarly{99, 12, 0, 31, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToVariantTime(&tooEarly, &date));
    EXPECT_FALSE(VariantTimeToSystemTime(3e6, &st));
    EXPECT_FALSE(VariantTimeToSystemTime(-700000, &st));
    EXPECT_FALSE(VariantTimeToSystemTime(std::nan(""), &st));
}

TEST(ObjectLayer, DecimalsHoldFifteenDigitsOfADoubleAndOverflowBeyondNinetySixBits)
{
    DECIMAL dec{};
    ASSERT_EQ(VarDecFromR8(-1.25, &dec), S_OK);
    EXPECT_EQ(dec.scale, 2);
    EXPECT_EQ(dec.sign, DECIMAL_NEG);
    EXPECT_EQ(dec.Lo64, 125u);
    EXPECT_EQ(dec.Hi32, 0u);
    double back = 0;
    ASSERT_EQ(VarR8FromDec(&dec, &back), S_OK);
    EXPECT_DOUBLE_EQ(back, -1.25);

    ASSERT_EQ(VarDecFromR8(0.1, &dec), S_OK);
    EXPECT_EQ(dec.scale, 1);
    EXPECT_EQ(dec.Lo64, 1u);

    ASSERT_EQ(VarDecFromR8(1e20, &dec), S_OK);
    EXPECT_EQ(dec.scale, 0);
    EXPECT_EQ(dec.Hi32, 5u) << "1e20 needs more than 64 bits";
    ASSERT_EQ(VarR8FromDec(&dec, &back), S_OK);
    EXPECT_DOUBLE_EQ(back, 1e20);

    EXPECT_EQ(VarDecFromR8(1e29, &dec), DISP_E_OVERFLOW);
    dec.scale = 29;
    EXPECT_EQ(VarR8FromDec(&dec, &back), E_INVALIDARG);
}
