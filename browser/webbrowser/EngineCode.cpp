#include "browser/webbrowser/EngineCode.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <link.h>

namespace bcx {
namespace {

struct CodeRange {
    uintptr_t begin, end;
};

struct EngineRanges {
    static const size_t kMax = 8;
    CodeRange ranges[kMax];
    size_t count = 0;
};

int AddEngineCode(dl_phdr_info* info, size_t, void* data)
{
    EngineRanges& engine = *static_cast<EngineRanges*>(data);
    const char* name = info->dlpi_name ? info->dlpi_name : "";
    if (!std::strstr(name, "libwebkit2gtk-") && !std::strstr(name, "libjavascriptcoregtk-"))
        return 0;
    for (int i = 0; i < info->dlpi_phnum && engine.count < EngineRanges::kMax; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X))
            engine.ranges[engine.count++] = {info->dlpi_addr + segment.p_vaddr,
                                             info->dlpi_addr + segment.p_vaddr + segment.p_memsz};
    }
    return 0;
}

const EngineRanges& Engine()
{
    static const EngineRanges engine = [] {
        EngineRanges found;
        dl_iterate_phdr(AddEngineCode, &found);
        return found;
    }();
    return engine;
}

} // namespace

bool FindEngineCode()
{
    return Engine().count > 0;
}

bool IsEngineCode(const void* pc)
{
    const EngineRanges& engine = Engine();
    const uintptr_t at = reinterpret_cast<uintptr_t>(pc);
    for (size_t i = 0; i < engine.count; ++i)
        if (at >= engine.ranges[i].begin && at < engine.ranges[i].end)
            return true;
    return false;
}

} // namespace bcx
