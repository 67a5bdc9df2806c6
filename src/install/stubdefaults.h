// What the stub installs without a configuration: the sample product's folder,
// Start-menu group and item (Windows-1250; the rest of its texts are in
// src/stub/veksfxu.h). vekpack names them when it packs an executable without one.
#pragma once

namespace vek {

inline constexpr char kDefaultDestination[] = "C:\\Tarnovista_3_99";
inline constexpr char kProgramGroupName[] = "NWM Tarnovista";
// The one item: "\TARGET,NAME" after the destination.
inline constexpr char kProgramItemSuffix[] = "\\INDEX.HTM,Tarnovista 3_99";

}  // namespace vek
