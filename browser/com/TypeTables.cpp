// ITypeInfo objects that read a control's static class and interface tables.

#include "browser/com/TypeTables.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "browser/com/Object.h"

namespace bcx::com {
namespace {

BSTR AsciiBstr(const char* text)
{
    std::u16string wide;
    for (const char* p = text ? text : ""; *p; ++p)
        wide += static_cast<char16_t>(static_cast<unsigned char>(*p));
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// The descriptions handed out by GetFuncDesc, kept until ReleaseFuncDesc.
struct FuncBlock {
    FUNCDESC desc{};
    std::vector<ELEMDESC> params;
    std::vector<TYPEDESC> pointed;
};

ELEMDESC Describe(VARTYPE type, bool byRef, USHORT flags, TYPEDESC* pointed)
{
    ELEMDESC e{};
    e.paramdesc.wParamFlags = flags;
    if (byRef) {
        pointed->vt = type;
        e.tdesc.vt = VT_PTR;
        e.tdesc.lptdesc = pointed;
    } else {
        e.tdesc.vt = type;
    }
    return e;
}

// One object for both shapes: a class (its implemented interfaces) or an interface (its functions).
class TableTypeInfo final : public ComObject<ITypeInfo> {
public:
    explicit TableTypeInfo(const ClassTable* cls, const InterfaceTable* iface) : mClass(cls), mInterface(iface) {}

    HRESULT GetTypeAttr(TYPEATTR** out) override
    {
        if (!out)
            return E_INVALIDARG;
        auto attr = std::make_unique<TYPEATTR>();
        if (mClass) {
            attr->guid = mClass->clsid;
            attr->typekind = TKIND_COCLASS;
            attr->cImplTypes = static_cast<WORD>(mClass->implCount);
        } else {
            attr->guid = mInterface->iid;
            attr->typekind = mInterface->kind;
            attr->cFuncs = static_cast<WORD>(mInterface->funcCount);
        }
        *out = attr.get();
        mAttrs[attr.get()] = std::move(attr);
        return S_OK;
    }

    void ReleaseTypeAttr(TYPEATTR* attr) override { mAttrs.erase(attr); }

    HRESULT GetFuncDesc(UINT index, FUNCDESC** out) override
    {
        if (!out)
            return E_INVALIDARG;
        *out = nullptr;
        if (!mInterface || index >= UINT(mInterface->funcCount))
            return TYPE_E_ELEMENTNOTFOUND;
        const FuncRow& f = mInterface->funcs[index];
        auto block = std::make_unique<FuncBlock>();
        block->pointed.resize(size_t(f.paramCount));
        for (int i = 0; i < f.paramCount; ++i) {
            const ParamRow& p = f.params[i];
            block->params.push_back(Describe(p.type, p.byRef, p.idlFlags, &block->pointed[size_t(i)]));
        }
        FUNCDESC& d = block->desc;
        d.memid = f.id;
        d.funckind = FUNC_DISPATCH;
        d.invkind = f.kind;
        d.cParams = static_cast<SHORT>(f.paramCount);
        d.lprgelemdescParam = block->params.empty() ? nullptr : block->params.data();
        d.elemdescFunc = Describe(f.returnType, false, IDLFLAG_NONE, nullptr);
        *out = &d;
        mFuncs[&d] = std::move(block);
        return S_OK;
    }

    void ReleaseFuncDesc(FUNCDESC* desc) override { mFuncs.erase(desc); }

    HRESULT GetNames(MEMBERID id, BSTR* names, UINT maxNames, UINT* count) override
    {
        if (!names || !count)
            return E_INVALIDARG;
        *count = 0;
        if (!mInterface)
            return TYPE_E_ELEMENTNOTFOUND;
        for (int i = 0; i < mInterface->funcCount; ++i) {
            const FuncRow& f = mInterface->funcs[i];
            if (f.id != id)
                continue;
            if (maxNames > 0)
                names[(*count)++] = AsciiBstr(f.name);
            for (int p = 0; p < f.paramCount && *count < maxNames; ++p)
                names[(*count)++] = AsciiBstr(f.params[p].name);
            return S_OK;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }

    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* out) override
    {
        if (!out)
            return E_INVALIDARG;
        if (!mClass || index >= UINT(mClass->implCount))
            return TYPE_E_ELEMENTNOTFOUND;
        *out = index;
        return S_OK;
    }

    HRESULT GetImplTypeFlags(UINT index, INT* flags) override
    {
        if (!flags)
            return E_INVALIDARG;
        if (!mClass || index >= UINT(mClass->implCount))
            return TYPE_E_ELEMENTNOTFOUND;
        *flags = mClass->impls[index].flags;
        return S_OK;
    }

    HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) override
    {
        if (!out)
            return E_INVALIDARG;
        *out = nullptr;
        if (!mClass || ref >= HREFTYPE(mClass->implCount) || !mClass->impls[ref].iface)
            return TYPE_E_ELEMENTNOTFOUND;
        return CreateInterfaceTypeInfo(*mClass->impls[ref].iface, out);
    }

protected:
    void* FindInterface(REFIID iid) override
    {
        return iid == IID_IUnknown || iid == IID_ITypeInfo ? static_cast<ITypeInfo*>(this) : nullptr;
    }

private:
    const ClassTable* mClass;
    const InterfaceTable* mInterface;
    std::map<TYPEATTR*, std::unique_ptr<TYPEATTR>> mAttrs;
    std::map<FUNCDESC*, std::unique_ptr<FuncBlock>> mFuncs;
};

HRESULT Hand(TableTypeInfo* info, ITypeInfo** out)
{
    info->AddRef();
    *out = info;
    return S_OK;
}

} // namespace

HRESULT CreateClassTypeInfo(const ClassTable& table, ITypeInfo** out)
{
    if (!out)
        return E_INVALIDARG;
    return Hand(new TableTypeInfo(&table, nullptr), out);
}

HRESULT CreateInterfaceTypeInfo(const InterfaceTable& table, ITypeInfo** out)
{
    if (!out)
        return E_INVALIDARG;
    return Hand(new TableTypeInfo(nullptr, &table), out);
}

} // namespace bcx::com
