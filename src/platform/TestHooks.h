#pragma once

#include <chrono>

// Settings of the platform components that only tests change: a test of a silent server
// should fail within a fraction of a second, not after the production time limits.
namespace tavik::platform {

inline constexpr std::chrono::milliseconds xmlConnectLimit{5000};
inline constexpr std::chrono::milliseconds xmlTransferLimit{30000};
inline constexpr std::chrono::milliseconds inetConnectLimit{5000};
inline constexpr std::chrono::milliseconds inetTransferLimit{60000};

// Time limits of the XML document's fetch (connection, whole transfer).
void setXmlTimeLimitsForTesting(std::chrono::milliseconds connect,
                                std::chrono::milliseconds transfer);
// How long WaitForEvents sleeps at most without a wake (100 ms unless set).
void setWaitIntervalForTesting(std::chrono::milliseconds interval);
// Time limits of the transfers the transfer component starts from now on.
void setInetTimeLimitsForTesting(std::chrono::milliseconds connect,
                                 std::chrono::milliseconds transfer);

} // namespace tavik::platform
