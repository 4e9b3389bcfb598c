// The script compiler: any bytes either compile into a node list that ends
// with the end node, or fail with the engine's exception; nothing else.
#include "core/exception.h"
#include "quiet.h"
#include "script/node.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrel::fuzz::QuietReports();
    // The loader hands the compiler the file with one NUL after it.
    std::vector<std::uint8_t> source(data, data + size);
    source.push_back(0);
    TextScript::ScriptStateGroup group;
    try {
        group.Compile(source, u"fuzz.txt");
    } catch (const kestrel::ExceptionHandle&) {
        return 0;
    }
    if (!group.Last() || group.Last()->m_kind != TextScript::kNodeEnd)
        __builtin_trap();
    return 0;
}
