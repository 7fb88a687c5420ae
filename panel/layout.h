// Signpad's fixed layout: the client area and every element's rectangle, in pixels from the
// top-left of the client area. The skin (drawn by tools/make_assets.cpp) and the window share
// these numbers, so the fields and labels always sit on their places in the picture.
#pragma once

#include <QRect>
#include <QSize>

namespace signpad {

inline constexpr QSize kClientSize(161, 232);

// Text fields.
inline constexpr QRect kText1(48, 72, 81, 15);   // screen name
inline constexpr QRect kText2(48, 96, 81, 15);   // password
inline constexpr QRect kText4(64, 160, 65, 15);  // old password
inline constexpr QRect kText3(64, 184, 65, 15);  // new password

// Labels: actions, status and their frames.
inline constexpr QRect kLabel4(16, 115, 22, 12);  // Login
inline constexpr QRect kLabel5(48, 115, 28, 12);  // Logout
inline constexpr QRect kLabel6(80, 115, 39, 12);  // sign-on status
inline constexpr QRect kShape1(80, 116, 55, 10);
inline constexpr QRect kLabel7(16, 208, 75, 12);  // Change Password
inline constexpr QRect kShape2(93, 208, 42, 11);
inline constexpr QRect kLabel8(96, 208, 30, 12);  // password-change status
inline constexpr QRect kReason(8, 127, 146, 11);  // why the last action failed, one line

// Invisible hot spots.
inline constexpr QRect kCloseSpot(0, 0, 17, 17);       // Label2
inline constexpr QRect kMinimiseSpot(136, 0, 17, 17);  // Label3
inline constexpr QRect kDragSurface(0, -8, 161, 233);  // Label1, beneath everything

// The window's shape when the shape bitmap cannot be decoded: (1, 2) to (153, 230), right and
// bottom exclusive.
inline constexpr QRect kFallbackShape(1, 2, 152, 228);

// Point sizes of the fields' and the labels' font, Arial.
inline constexpr double kFieldPointSize = 6.0;
inline constexpr double kLabelPointSize = 6.75;

}  // namespace signpad
