// The control's form encoding against the server's decoding: whatever the user typed comes
// out on the server as its Windows-1252 form (characters the code page lacks as "?").

#include "common/CodePage.h"
#include "gateway/URLEncode.h"
#include "statement/FormBody.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string typed(reinterpret_cast<const char*>(data), size);
    const vcserver::SqlField field = vcserver::sqlFieldOf("SQL=" + tavik::URLEncode(typed));
    if (!field.statement)
        std::abort();
    const std::string expected = tavik::common::fromAnsi(tavik::common::toAnsi(typed));
    if (*field.statement != expected)
        std::abort();
    return 0;
}
