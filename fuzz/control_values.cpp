// Feeds arbitrary text and numbers, as a web page can put them into a browser control's event arguments,
// through the value conversions of the control container: wide text to and from the toolkit, changes of
// type, OLE dates and decimals, and the arguments' way to toolkit values and back.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "browser/activex/ActiveXVariants.h"
#include "browser/com/Variant.h"
#include "browser/com/WideText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 9)
        return 0;
    double number;
    std::memcpy(&number, data + 1, sizeof number);
    const size_t chars = (size - 9) / 2;
    BSTR text = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(data + 9), static_cast<UINT>(chars));

    const wxString decoded = bcx::com::FromBstr(text);
    BSTR again = bcx::com::ToBstr(decoded);
    SysFreeString(again);

    static const VARTYPE kTypes[] = {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_DATE, VT_BSTR,
                                     VT_BOOL, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8,
                                     VT_INT, VT_UINT, VT_VARIANT, VT_CY};
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = text;
    VARIANT real;
    VariantInit(&real);
    real.vt = VT_R8;
    real.dblVal = number;
    for (VARTYPE type : kTypes) {
        for (VARIANT* from : {&source, &real}) {
            VARIANT to;
            VariantInit(&to);
            VariantChangeType(&to, from, 0, type);
            wxVariant value;
            MSWVariantToVariant(to, value);
            VARIANT back;
            VariantInit(&back);
            back.vt = type;
            VariantToMSWVariant(value, back);
            VariantClear(&back);
            VariantClear(&to);
        }
    }

    SYSTEMTIME st;
    if (VariantTimeToSystemTime(number, &st)) {
        DATE date;
        SystemTimeToVariantTime(&st, &date);
    }
    DECIMAL dec;
    if (VarDecFromR8(number, &dec) == S_OK) {
        double back;
        VarR8FromDec(&dec, &back);
    }
    dec.scale = data[0];
    double ignored;
    VarR8FromDec(&dec, &ignored);

    VariantClear(&source);
    return 0;
}
