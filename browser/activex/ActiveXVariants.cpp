// Conversions between VARIANT and wxVariant.

#include "browser/activex/ActiveXVariants.h"

#include <wx/datetime.h>

#include "browser/com/Interfaces.h"
#include "browser/com/WideText.h"

namespace {

// A by-reference VT_VARIANT may point at another one; the chain is followed this far.
constexpr int kMaxVariantDepth = 4;

bool ToToolkit(const VARIANTARG& va, wxVariant& vx, int depth)
{
    if (va.vt & VT_ARRAY)
        return false;
    const bool byRef = (va.vt & VT_BYREF) != 0;
    const VARTYPE type = va.vt & ~VT_BYREF;
    if (byRef && !va.byref) {
        vx.MakeNull();
        return false;
    }
    switch (type) {
    case VT_I2:
    case VT_UI2:
        vx = static_cast<long>(byRef ? *va.puiVal : va.uiVal);
        return true;
    case VT_I4:
        vx = static_cast<long>(byRef ? *va.plVal : va.lVal);
        return true;
    case VT_UI4:
        vx = static_cast<long>(byRef ? *va.pulVal : va.ulVal);
        return true;
    case VT_INT:
        vx = static_cast<long>(byRef ? *va.pintVal : va.intVal);
        return true;
    case VT_UINT:
        vx = static_cast<long>(byRef ? *va.puintVal : va.uintVal);
        return true;
    case VT_ERROR:
        vx = static_cast<long>(byRef ? *va.pscode : va.scode);
        return true;
    case VT_R4:
        vx = static_cast<double>(byRef ? *va.pfltVal : va.fltVal);
        return true;
    case VT_R8:
        vx = byRef ? *va.pdblVal : va.dblVal;
        return true;
    case VT_BOOL:
        vx = (byRef ? *va.pboolVal : va.boolVal) != 0;
        return true;
    case VT_I1:
    case VT_UI1:
        vx = wxVariant(wxUniChar(static_cast<unsigned char>(byRef ? *va.pbVal : va.bVal)));
        return true;
    case VT_BSTR:
        vx = bcx::com::FromBstr(byRef ? *va.pbstrVal : va.bstrVal);
        return true;
    case VT_DATE: {
        VARIANT date;
        VariantInit(&date);
        if (FAILED(VariantChangeType(&date, &va, 0, VT_DATE))) {
            vx.MakeNull();
            return false;
        }
        SYSTEMTIME st;
        if (!VariantTimeToSystemTime(date.date, &st)) {
            vx.MakeNull();
            return false;
        }
        vx = wxDateTime(st.wDay, static_cast<wxDateTime::Month>(st.wMonth - 1), st.wYear, st.wHour, st.wMinute,
                        st.wSecond, st.wMilliseconds);
        return true;
    }
    case VT_DECIMAL: {
        double value = 0;
        if (FAILED(VarR8FromDec(byRef ? va.pdecVal : &va.decVal, &value))) {
            vx.MakeNull();
            return false;
        }
        vx = value;
        return true;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
        vx = static_cast<void*>(byRef ? *va.ppunkVal : va.punkVal);
        return false;
    case VT_VARIANT:
        if (byRef) {
            if (depth >= kMaxVariantDepth) {
                vx.MakeNull();
                return false;
            }
            return ToToolkit(*va.pvarVal, vx, depth + 1);
        } else {
            // Converted from a copy: the caller's argument keeps its value.
            VARIANT copy;
            VariantInit(&copy);
            bool ok = SUCCEEDED(VariantChangeType(&copy, &va, 0, VariantTypeFromName(vx)));
            if (ok)
                ok = ToToolkit(copy, vx, depth + 1);
            else
                vx.MakeNull();
            VariantClear(&copy);
            return ok;
        }
    default:
        vx.MakeNull();
        return false;
    }
}

bool ToControl(const wxVariant& vx, VARIANTARG& va, int depth)
{
    if (va.vt & VT_ARRAY)
        return false;
    const bool byRef = (va.vt & VT_BYREF) != 0;
    const VARTYPE type = va.vt & ~VT_BYREF;
    if (type < VT_I2 || type > VT_UINT || (byRef && !va.byref))
        return false;
    long l = 0;
    double d = 0;
    bool b = false;
    switch (type) {
    case VT_I2:
    case VT_UI2:
        if (!vx.Convert(&l))
            return false;
        (byRef ? *va.puiVal : va.uiVal) = static_cast<USHORT>(l);
        return true;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
        if (!vx.Convert(&l))
            return false;
        (byRef ? *va.plVal : va.lVal) = static_cast<LONG>(l);
        return true;
    case VT_R4:
        if (!vx.Convert(&d))
            return false;
        (byRef ? *va.pfltVal : va.fltVal) = static_cast<float>(d);
        return true;
    case VT_R8:
        if (!vx.Convert(&d))
            return false;
        (byRef ? *va.pdblVal : va.dblVal) = d;
        return true;
    case VT_BOOL:
        if (!vx.Convert(&b))
            return false;
        (byRef ? *va.pboolVal : va.boolVal) = b ? 1 : 0;
        return true;
    case VT_I1:
    case VT_UI1: {
        wxUniChar c;
        if (!vx.Convert(&c))
            return false;
        (byRef ? *va.pbVal : va.bVal) = static_cast<BYTE>(c.GetValue());
        return true;
    }
    case VT_BSTR: {
        BSTR text = bcx::com::ToBstr(vx.IsNull() ? wxString() : vx.MakeString());
        BSTR& slot = byRef ? *va.pbstrVal : va.bstrVal;
        SysFreeString(slot);
        slot = text;
        return true;
    }
    case VT_DATE: {
        wxDateTime when;
        if (!vx.Convert(&when) || !when.IsValid())
            return false;
        const wxDateTime::Tm tm = when.GetTm();
        SYSTEMTIME st{static_cast<WORD>(tm.year), static_cast<WORD>(tm.mon + 1), 0, static_cast<WORD>(tm.mday),
                      static_cast<WORD>(tm.hour), static_cast<WORD>(tm.min), static_cast<WORD>(tm.sec),
                      static_cast<WORD>(tm.msec)};
        DATE date;
        if (!SystemTimeToVariantTime(&st, &date))
            return false;
        (byRef ? *va.pdate : va.date) = date;
        return true;
    }
    case VT_DECIMAL: {
        DECIMAL dec;
        if (!vx.Convert(&d) || FAILED(VarDecFromR8(d, &dec)))
            return false;
        (byRef ? *va.pdecVal : va.decVal) = dec;
        return true;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
        // Only an out pointer takes an interface, with its reference moved over.
        if (byRef && vx.GetType() == wxS("void*")) {
            IUnknown* object = static_cast<IUnknown*>(vx.GetVoidPtr());
            IUnknown*& slot = *va.ppunkVal;
            if (object != slot) {
                if (object)
                    object->AddRef();
                if (slot)
                    slot->Release();
                slot = object;
            }
        }
        return false;
    case VT_VARIANT:
        if (byRef) {
            if (depth >= kMaxVariantDepth)
                return false;
            return ToControl(vx, *va.pvarVal, depth + 1);
        } else {
            // A by-value VT_VARIANT holds no value of its own: it becomes the value's own type.
            VARIANT value;
            VariantInit(&value);
            value.vt = VariantTypeFromName(vx);
            if (!ToControl(vx, value, depth + 1))
                return false;
            va = value;
            return true;
        }
    default:
        return false;
    }
}

} // namespace

bool MSWVariantToVariant(const VARIANTARG& va, wxVariant& vx)
{
    return ToToolkit(va, vx, 0);
}

bool VariantToMSWVariant(const wxVariant& vx, VARIANTARG& va)
{
    return ToControl(vx, va, 0);
}

VARTYPE VariantTypeFromName(const wxVariant& vx)
{
    const wxString type = vx.GetType();
    if (type == wxS("bool"))
        return VT_BOOL;
    if (type == wxS("char"))
        return VT_I1;
    if (type == wxS("datetime") || type == wxS("date") || type == wxS("time"))
        return VT_DATE;
    if (type == wxS("double"))
        return VT_R8;
    if (type == wxS("long"))
        return VT_I4;
    if (type == wxS("string"))
        return VT_BSTR;
    if (type == wxS("void*"))
        return VT_BYREF | VT_VOID;
    if (type == wxS("list") || type == wxS("stringlist"))
        return VT_ARRAY;
    return VT_NULL;
}

wxVariant* FindActiveXParam(wxVariant& params, const wxString& name)
{
    if (params.GetType() != wxS("list"))
        return nullptr;
    for (size_t i = 0; i < params.GetCount(); ++i)
        if (params[i].GetName().CmpNoCase(name) == 0)
            return &params[i];
    return nullptr;
}

wxVariant& ActiveXEventParams::operator[](const wxString& name)
{
    if (wxVariant* found = FindActiveXParam(mList, name))
        return *found;
    mMissing = wxVariant();
    return mMissing;
}
