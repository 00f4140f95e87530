#pragma once
// Type information from static tables: a control describes its class (a default dispatch interface and
// a default source interface for its events) in const tables, and hands out ITypeInfo objects that read
// them, through IProvideClassInfo::GetClassInfo.
//
//   static const bcx::com::ParamRow kNavParams[] = {
//       {"URL", VT_VARIANT, true, IDLFLAG_FIN},
//       {"Cancel", VT_BOOL, true, IDLFLAG_FIN | IDLFLAG_FOUT},
//   };
//   static const bcx::com::FuncRow kEvents[] = {
//       {"BeforeNavigate2", DISPID_BEFORENAVIGATE2, INVOKE_FUNC, VT_VOID, kNavParams, 2},
//   };
//   static const bcx::com::InterfaceTable kEventIface = {DIID_DWebBrowserEvents2, TKIND_DISPATCH, kEvents, 1};
//   static const bcx::com::ImplRow kImpl[] = {
//       {&kMainIface, IMPLTYPEFLAG_FDEFAULT},
//       {&kEventIface, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
//   };
//   static const bcx::com::ClassTable kClass = {CLSID_WebBrowser, kImpl, 2};
//
//   HRESULT GetClassInfo(ITypeInfo** out) override { return bcx::com::CreateClassTypeInfo(kClass, out); }
//
// The tables must outlive every ITypeInfo made from them (static storage).

#include "browser/com/Interfaces.h"

namespace bcx::com {

struct ParamRow {
    const char* name;     // ASCII
    VARTYPE type;         // the type, or for a by-reference parameter the type pointed to
    bool byRef;           // declared as a pointer (VT_PTR to type)
    USHORT idlFlags;      // IDLFLAG_FIN / IDLFLAG_FOUT / IDLFLAG_FRETVAL
};

struct FuncRow {
    const char* name;
    DISPID id;
    INVOKEKIND kind;
    VARTYPE returnType;   // VT_VOID for none
    const ParamRow* params;
    int paramCount;
};

struct InterfaceTable {
    IID iid;
    TYPEKIND kind;        // TKIND_DISPATCH for the interfaces a container reads
    const FuncRow* funcs;
    int funcCount;
};

struct ImplRow {
    const InterfaceTable* iface;
    INT flags;            // IMPLTYPEFLAG_*
};

struct ClassTable {
    CLSID clsid;
    const ImplRow* impls;
    int implCount;
};

// A new ITypeInfo of kind TKIND_COCLASS for the class, with one reference, in *out. Its implemented
// types are the class's interfaces in table order (GetRefTypeOfImplType gives the index as the
// reference); GetRefTypeInfo gives an ITypeInfo of that interface, whose functions and names come
// from its FuncRows. Null out pointer: E_INVALIDARG.
HRESULT CreateClassTypeInfo(const ClassTable& table, ITypeInfo** out);

// A new ITypeInfo for one interface, with one reference.
HRESULT CreateInterfaceTypeInfo(const InterfaceTable& table, ITypeInfo** out);

} // namespace bcx::com
