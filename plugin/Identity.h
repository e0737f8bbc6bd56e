// Who the plug-ins are, in every format. Hosts save sessions by the ids
// below (CLAP's plug-in ids, VST3's class ids): never change one.
#pragma once

#include <cstdint>

namespace tonevolt {

constexpr char kVendor[] = "Tonevolt developers";
constexpr char kHomepage[] = "https://tonevolt.invalid/";
// Neither CLAP nor VST3 has a field for it: CLAP's descriptions end with it.
#define TONEVOLT_LICENSE "MIT"
constexpr char kVersion[] = TONEVOLT_VERSION;  // the project's, from CMake

struct PluginIdentity {
  bool tracker;
  const char* name;
  const char* description;
  const char* clap_id;
  uint8_t vst3_class_id[16];
};

constexpr PluginIdentity kPluginIdentities[] = {
    {false,
     "Tonevolt",
     "Pitch to control voltage by counting zero crossings: 1 V/kHz or 1 V/oct, as audio. "
     "Licence: " TONEVOLT_LICENSE ".",
     "invalid.tonevolt.module",
     {0x29, 0xce, 0x9d, 0x5d, 0x9b, 0x89, 0x49, 0xb6, 0x9b, 0x69, 0x2e, 0x80, 0xe6, 0x79, 0xf2,
      0xf3}},
    {true,
     "Tonevolt Tracker",
     "The same behind a live melody tracker: a band-pass steered to the tune, a gate and a hold. "
     "Licence: " TONEVOLT_LICENSE ".",
     "invalid.tonevolt.tracker",
     {0x62, 0xb9, 0xfc, 0x68, 0xd0, 0x73, 0x45, 0x76, 0xb1, 0xe8, 0xee, 0x0c, 0x35, 0xf7, 0xaa,
      0x5a}},
};

}  // namespace tonevolt
