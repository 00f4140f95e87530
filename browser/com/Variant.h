#pragma once
// Tagged values passed through dispatch calls and events: VARIANT, wide strings (BSTR), argument blocks,
// and the conversions between value types, OLE dates and decimals.

#include "browser/com/ComTypes.h"

struct IUnknown;
struct IDispatch;
struct SAFEARRAY;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_USERDEFINED = 29,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        ULONGLONG ullVal;
        LONG lVal;
        ULONG ulVal;
        BYTE bVal;
        char cVal;
        SHORT iVal;
        USHORT uiVal;
        INT intVal;
        UINT uintVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        DECIMAL decVal;
        BYTE* pbVal;
        char* pcVal;
        SHORT* piVal;
        USHORT* puiVal;
        LONG* plVal;
        ULONG* pulVal;
        INT* pintVal;
        UINT* puintVal;
        LONGLONG* pllVal;
        ULONGLONG* pullVal;
        float* pfltVal;
        double* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        DECIMAL* pdecVal;
        VARIANT* pvarVal;
        void* byref;
    };
};
typedef VARIANT VARIANTARG;

// Arguments of a dispatch call, last argument first.
struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    void* pfnDeferredFillIn;
    SCODE scode;
};

// ---------------------------------------------------------------------------------------------------
// Wide strings. A BSTR points at the first character; the byte length is stored in the 32 bits before it
// and a terminating zero follows the last character. A null BSTR is the empty string.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

// ---------------------------------------------------------------------------------------------------
// Values.
void VariantInit(VARIANTARG* v);
// Frees what the value owns (string, interface reference) and leaves it VT_EMPTY; by-reference values
// own nothing.
HRESULT VariantClear(VARIANTARG* v);
// Clears dest, then copies src into it (a new string, one more interface reference).
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);

enum : USHORT { VARIANT_NOVALUEPROP = 1 };
// Converts src (by-reference values are read through their pointer) to type vt into dest. dest may be
// src. Supports the numeric types, VT_BOOL, VT_BSTR (numbers written and read without the locale),
// VT_DATE, VT_DECIMAL, VT_EMPTY and VT_NULL. Fails with DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW or
// DISP_E_BADVARTYPE and then leaves dest unchanged.
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);

// OLE dates: days since 1899-12-30; the fraction is the time of day, also for negative dates
// (-1.25 is 1899-12-29 06:00). Years 100 to 9999. Both return TRUE on success.
INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* st);
INT SystemTimeToVariantTime(SYSTEMTIME* st, DATE* date);

HRESULT VarR8FromDec(const DECIMAL* dec, double* out);
HRESULT VarDecFromR8(double value, DECIMAL* out);
