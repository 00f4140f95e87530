#pragma once
// The small object-model layer under the embedded browser: the scalar types, result codes, class and
// interface ids and plain structures that the control container, its site and the hosted controls pass
// to each other. Only what the container and the controls use is here; names follow the object model
// the container was written against, so that the container reads the same on every platform.

#include <cstddef>
#include <cstdint>

class wxWindow;
class wxDC;

// ---------------------------------------------------------------------------------------------------
// Scalars.
typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef uint8_t BYTE;
typedef int16_t SHORT;
typedef int INT;
typedef unsigned int UINT;
typedef int BOOL;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef LONGLONG LARGE_INTEGER;
typedef ULONGLONG ULARGE_INTEGER;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef DWORD LCID;
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef DWORD HREFTYPE;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;

// Wide characters are UTF-16 code units.
typedef char16_t OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
// A length-prefixed wide string; see SysAllocString.
typedef OLECHAR* BSTR;

// Window handles are the toolkit's windows; device contexts the toolkit's.
typedef wxWindow* HWND;
typedef wxDC* HDC;
typedef void* HMENU;
typedef void* HOLEMENU;
typedef void* HACCEL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// ---------------------------------------------------------------------------------------------------
// Result codes.
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr HRESULT ResultCode(uint32_t bits) { return static_cast<HRESULT>(bits); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = ResultCode(0x80004001);
constexpr HRESULT E_NOINTERFACE = ResultCode(0x80004002);
constexpr HRESULT E_POINTER = ResultCode(0x80004003);
constexpr HRESULT E_FAIL = ResultCode(0x80004005);
constexpr HRESULT E_UNEXPECTED = ResultCode(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = ResultCode(0x8007000E);
constexpr HRESULT E_INVALIDARG = ResultCode(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = ResultCode(0x80040110);
constexpr HRESULT REGDB_E_CLASSNOTREG = ResultCode(0x80040154);
constexpr HRESULT OLECMDERR_E_NOTSUPPORTED = ResultCode(0x80040100);
constexpr HRESULT CONNECT_E_NOCONNECTION = ResultCode(0x80040200);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = ResultCode(0x80040202);
constexpr HRESULT INPLACE_E_NOTOOLSPACE = ResultCode(0x800401A1);
constexpr HRESULT MK_E_NOOBJECT = ResultCode(0x800401E5);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = ResultCode(0x80020003);
constexpr HRESULT DISP_E_TYPEMISMATCH = ResultCode(0x80020005);
constexpr HRESULT DISP_E_BADVARTYPE = ResultCode(0x80020008);
constexpr HRESULT DISP_E_OVERFLOW = ResultCode(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = ResultCode(0x8002000B);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = ResultCode(0x8002802B);

// ---------------------------------------------------------------------------------------------------
// Class and interface ids.
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

constexpr bool operator==(const GUID& a, const GUID& b)
{
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}
constexpr bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
// Ordering for maps keyed by id.
bool operator<(const GUID& a, const GUID& b);

constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// ---------------------------------------------------------------------------------------------------
// Geometry and messages.
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef RECT RECTL;
typedef const RECT* LPCRECT;
typedef const RECT* LPCBORDERWIDTHS;
typedef RECT* LPRECT;

struct POINT {
    LONG x;
    LONG y;
};
typedef POINT POINTL;

struct POINTF {
    float x;
    float y;
};

struct SIZE {
    LONG cx;
    LONG cy;
};
typedef SIZE SIZEL;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// Fixed-point decimal: value = (Hi32:Lo64) / 10^scale, negative when sign has DECIMAL_NEG.
struct DECIMAL {
    WORD wReserved;
    BYTE scale;
    BYTE sign;
    ULONG Hi32;
    ULONGLONG Lo64;
};
constexpr BYTE DECIMAL_NEG = 0x80;

struct CY {
    LONGLONG int64;
};

// ---------------------------------------------------------------------------------------------------
// Structures of the in-place and document-host interfaces.
struct OLEINPLACEFRAMEINFO {
    UINT cb;
    BOOL fMDIApp;
    HWND hwndFrame;
    HACCEL haccel;
    UINT cAccelEntries;
};

struct OLEMENUGROUPWIDTHS {
    LONG width[6];
};

struct DOCHOSTUIINFO {
    ULONG cbSize;
    DWORD dwFlags;
    DWORD dwDoubleClick;
    OLECHAR* pchHostCss;
    OLECHAR* pchHostNS;
};

struct OLECMD {
    ULONG cmdID;
    DWORD cmdf;
};

struct OLECMDTEXT {
    DWORD cmdtextf;
    ULONG cwActual;
    ULONG cwBuf;
    OLECHAR rgwz[1];
};

struct DVTARGETDEVICE;
struct FORMATETC;
struct STGMEDIUM;
struct STATSTG;

// ---------------------------------------------------------------------------------------------------
// Constants.
enum : DWORD {
    CLSCTX_INPROC_SERVER = 1,
    CLSCTX_INPROC_HANDLER = 2,
    CLSCTX_LOCAL_SERVER = 4,
};

enum : DWORD { DVASPECT_CONTENT = 1 };

enum : DWORD {
    OLEMISC_INVISIBLEATRUNTIME = 0x400,
    OLEMISC_SETCLIENTSITEFIRST = 0x20000,
};

enum : LONG {
    OLEIVERB_PRIMARY = 0,
    OLEIVERB_SHOW = -1,
    OLEIVERB_OPEN = -2,
    OLEIVERB_HIDE = -3,
    OLEIVERB_UIACTIVATE = -4,
    OLEIVERB_INPLACEACTIVATE = -5,
};

enum : DWORD {
    OLECLOSE_SAVEIFDIRTY = 0,
    OLECLOSE_NOSAVE = 1,
    OLECLOSE_PROMPTSAVE = 2,
};

enum : DWORD {
    DOCHOSTUIFLAG_NO3DBORDER = 4,
    DOCHOSTUIDBLCLK_DEFAULT = 0,
};

enum : WORD {
    DISPATCH_METHOD = 1,
    DISPATCH_PROPERTYGET = 2,
    DISPATCH_PROPERTYPUT = 4,
    DISPATCH_PROPERTYPUTREF = 8,
};

enum : DISPID {
    DISPID_UNKNOWN = -1,
    DISPID_AMBIENT_BACKCOLOR = -701,
    DISPID_AMBIENT_FORECOLOR = -704,
    DISPID_AMBIENT_LOCALEID = -705,
    DISPID_AMBIENT_MESSAGEREFLECT = -706,
    DISPID_AMBIENT_USERMODE = -709,
    DISPID_AMBIENT_SHOWGRABHANDLES = -711,
    DISPID_AMBIENT_SHOWHATCHING = -712,
    DISPID_AMBIENT_DISPLAYASDEFAULT = -713,
    DISPID_AMBIENT_APPEARANCE = -716,
    DISPID_AMBIENT_OFFLINEIFNOTCONNECTED = -5501,
    DISPID_AMBIENT_SILENT = -5502,
};

// The browser control's event ids.
enum : DISPID {
    DISPID_COMMANDSTATECHANGE = 105,
    DISPID_BEFORENAVIGATE2 = 250,
    DISPID_NEWWINDOW3 = 273,
};

// Browser command ids of CommandStateChange.
enum : LONG {
    CSC_UPDATECOMMANDS = -1,
    CSC_NAVIGATEFORWARD = 1,
    CSC_NAVIGATEBACK = 2,
};

// Navigate flags.
enum : LONG { navNoReadFromCache = 4 };
// Our browser control's flag in BeforeNavigate2's Flags: the user's click (or key) in the page started
// the navigation.
enum : LONG { navUserGesture = 0x01000000 };

// Colours: 0x00BBGGRR.
typedef DWORD COLORREF;
