// The plug-ins' CLAP ids for the C host, from their one home.
#include "plugin/Identity.h"

extern "C" const char* TonevoltClapId(int tracker) {
  for (const tonevolt::PluginIdentity& identity : tonevolt::kPluginIdentities) {
    if (identity.tracker == (tracker != 0)) return identity.clap_id;
  }
  return nullptr;
}
