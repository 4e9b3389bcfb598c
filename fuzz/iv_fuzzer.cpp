// The iv.txt reader, then a judge jump for a few keys against an empty
// script: reading never fails other than with the engine's exception.
#include "core/exception.h"
#include "quiet.h"
#include "script/node.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrel::fuzz::QuietReports();
    std::vector<std::uint8_t> source(data, data + size);
    source.push_back(0);
    TextScript::ScriptStateGroup group;
    try {
        group.ReadTables(source, u"iv.txt");
    } catch (const kestrel::ExceptionHandle&) {
        return 0;
    }
    if (group.JumpTable().Count() != 20)
        __builtin_trap();
    for (std::int32_t key : {-21, -1, 0, 5, 19, 20}) {
        try {
            group.JudgeJump(key);
        } catch (const kestrel::ScriptError2&) {
        }
    }
    return 0;
}
