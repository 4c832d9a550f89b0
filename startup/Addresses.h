// SPDX-License-Identifier: Apache-2.0
#pragma once
// The web addresses the program opens.

namespace kestrawin::startup {

inline constexpr const char* ProductPageAddress = "https://kestrawin.example/product";
inline constexpr const char* VendorSiteAddress = "https://kestrawin.example/";
// What the Main page shows for VendorSiteAddress.
inline constexpr const char* VendorSiteText = "kestrawin.example";

} // namespace kestrawin::startup
