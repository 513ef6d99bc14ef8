#pragma once

#include <chrono>
#include <cstddef>

// Settings of the platform components that only tests change: a test of a silent server
// should fail within a fraction of a second, not after the production time limits.
namespace tavik::platform {

inline constexpr std::chrono::milliseconds xmlConnectLimit{5000};
inline constexpr std::chrono::milliseconds xmlTransferLimit{30000};
inline constexpr std::chrono::milliseconds inetConnectLimit{5000};
inline constexpr std::chrono::milliseconds inetTransferLimit{60000};
inline constexpr std::size_t xmlPartBytes = 64 * 1024;

// Time limits of the XML document's fetch (connection, whole transfer).
void setXmlTimeLimitsForTesting(std::chrono::milliseconds connect,
                                std::chrono::milliseconds transfer);
// The size of the parts the XML document parses a large root's content in (from sixteen
// parts' worth); tests set it low to run small documents through the parts.
void setXmlPartBytesForTesting(std::size_t bytes);
// How long WaitForEvents sleeps at most without a wake (100 ms unless set).
void setWaitIntervalForTesting(std::chrono::milliseconds interval);
// Time limits of the transfers the transfer component starts from now on.
void setInetTimeLimitsForTesting(std::chrono::milliseconds connect,
                                 std::chrono::milliseconds transfer);

} // namespace tavik::platform
