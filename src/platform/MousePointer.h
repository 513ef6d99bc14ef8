#pragma once

// The application-wide mouse pointer.
namespace tavik::platform {

inline constexpr int vbDefault = 0;
inline constexpr int vbHourglass = 11;

// Sets the pointer (vbDefault, vbHourglass, or another of the platform's pointer numbers);
// throws RuntimeError for a number that names none.
void setMousePointer(int pointer);
int mousePointer();

} // namespace tavik::platform
