#pragma once

/// Version of the module's build.
inline constexpr double KOVModuleVersionNumber = 1.0;
/// Version text of the module's build.
inline constexpr const char* KOVModuleVersionString = "0.3.0";
