#include "conditioning/Frequency.h"

#include "conditioning/PortableMath.h"

namespace tonevolt {

// PortableExp2: the pre-filters are designed from this, alike on every
// architecture.
double MidiNoteHz(double midi_note) { return 440.0 * PortableExp2((midi_note - 69.0) / 12.0); }

}  // namespace tonevolt
