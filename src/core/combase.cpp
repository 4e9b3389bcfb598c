#include "core/combase.h"

#include "core/report.h"

namespace kestrel::detail {

void ReportReleaseOfDeadObject()
{
    AssertReport("0", "lib/combase", __LINE__);
}

} // namespace kestrel::detail
