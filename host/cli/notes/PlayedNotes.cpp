#include "notes/PlayedNotes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "module/Readings.h"
#include "notes/PitchRuns.h"

namespace tonevolt {

namespace {

// Notes this close in pitch, with at most this many frames between (a
// tracker's octave slip), are one note.
constexpr size_t kJoinGapFrames = 6;
// A run this short between two notes may still be a note.
constexpr size_t kShortestHeardFrames = 3;
// How far from where the tracker hears a change of note the signal can
// change: half its window, and a hop either side.
constexpr size_t kReachHops = kTrackedWindow / 2 / kTrackedHop + 2;
// A hop this far below a note's median level is a rest, not the note.
constexpr double kQuietBelowNoteDb = 20;
// A release falls this far below its note at once (a clarinet's, into
// its reverb: 15 dB).
constexpr double kReleaseBelowNoteDb = 12;
constexpr double kReattackRiseDb = 3;
// A dip this far under the quieter of two notes is where one gives way to the next.
constexpr double kReattackDipDb = 6;
// Hops either side of a change of note that may hold some of both.
constexpr size_t kChangeHops = 2;
// What is no note, measured on chords (sines, fluidsynth's piano, strings
// and organ) and espeak-ng's speech against single notes and melodies, as
// shares of the frames with a pitch (those holding several pitches
// counted in): chords hold several pitches in 71-100 % of them, a melody
// in 9-20 % (28 % at eight notes a second, where each window hears two),
// speech in 4-63 %.
constexpr double kMostlySeveralPitches = 0.66;
// Speech glides: the notes found (runs held within kNoteToleranceCents) cover
// 17-71 % of its frames with a single pitch; a melody's 97-99 % (81 % at
// eight notes a second), a single note's 84 % or more.
constexpr double kLeastHeldShare = 0.75;
// A vibrato's swing, as the tracker hears it: a run of frames beyond the
// tolerance on one side of the note's pitch, then one on the other, each
// half a cycle long at most (placed to a frame at either end), at least
// three of them (there, back and there again), with a few frames between
// (those across the middle, an octave slip).
constexpr size_t kLongestSwingFrames =
    static_cast<size_t>(0.5 / kSlowestVibratoHz / kTrackedHopSeconds) + 2;
constexpr size_t kFewestSwings = 3;
constexpr size_t kFramesBetweenSwings = 3;
// Crossings a period within this of a whole number come in whole periods.
constexpr double kWholeCrossingsWithin = 0.05;
// Spans further off the note than a vibrato goes, out of all: more, and
// the crossings are not the note's.
constexpr double kStraySpansShare = 0.1;
// A pitch that moves smoothly, as a vibrato up to 8 Hz does, moves less
// from one hop to the next than this share of how far it lies about its
// mean (in squares: a third at 8 Hz); jitter, twice as far.
constexpr double kSmoothSteps = 0.5;
// Of a vibrato's swing, the share that the tracker's window keeps at least,
// up to 8 Hz (measured on sines and sawtooths 15 to 100 cents deep: a
// third at 8 Hz and 15 cents).
constexpr double kTrackedShareOfSwing = 0.25;

}  // namespace

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  size_t at = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

double FrameStart(size_t k) {
  return std::max(0.0, k * kTrackedHopSeconds - kTrackedHopSeconds / 2);
}
double FrameEnd(size_t k) { return k * kTrackedHopSeconds + kTrackedHopSeconds / 2; }

namespace {

// Frames of a run this far from its ends have a window that holds the note
// alone: no attack, release or neighbouring note.
constexpr size_t kWindowHops = kTrackedWindow / 2 / kTrackedHop;

struct Vibrato {
  size_t first = 0, last = 0;    // frames
  double centre = 0, width = 0;  // cents; width: from one side's swings to the other's
};

// Where the heard pitch swings as a vibrato does (kLongestSwingFrames):
// runs of frames held within the tolerance, each on the other side of the
// one before and back within the tolerance of the one before that, so that
// their centre holds. Notes that change stay apart: a line moves on rather
// than back, and a note held longer than half a vibrato's cycle is no swing.
std::vector<Vibrato> FindVibratos(const std::vector<double>& heard) {
  struct Swing {
    size_t first, last;
    double mean;
  };
  std::vector<Swing> swings;
  for (const PitchRun& run : FindPitchRuns(heard, kNoteToleranceCents)) {
    if (run.Length() < kShortestHeardFrames) continue;  // passing
    double sum = 0;
    for (size_t k = run.first; k <= run.last; ++k) sum += heard[k];
    swings.push_back({run.first, run.last, sum / run.Length()});
  }
  std::vector<Vibrato> found;
  // Swings [from, to) as one vibrato, centred between its two sides.
  auto close = [&](size_t from, size_t to) {
    if (to - from < kFewestSwings) return false;
    double sum[2] = {0, 0}, count[2] = {0, 0};
    for (size_t i = from; i < to; ++i) {
      sum[(i - from) % 2] += swings[i].mean;
      ++count[(i - from) % 2];
    }
    const double side[2] = {sum[0] / count[0], sum[1] / count[1]};
    found.push_back({swings[from].first, swings[to - 1].last, (side[0] + side[1]) / 2,
                     std::fabs(side[0] - side[1])});
    return true;
  };
  auto follows = [&](size_t i) {
    const Swing &a = swings[i - 1], &b = swings[i];
    return b.first - a.last - 1 <= kFramesBetweenSwings &&
           std::fabs(b.mean - a.mean) <= 2 * kDeepestVibratoCents;
  };
  auto swings_back = [&](size_t i) {
    const Swing &a = swings[i - 2], &b = swings[i - 1], &c = swings[i];
    return (c.mean - b.mean) * (b.mean - a.mean) < 0 &&
           std::fabs(c.mean - a.mean) <= kNoteToleranceCents;
  };
  size_t from = 0;
  for (size_t i = 0; i < swings.size(); ++i) {
    const bool short_enough = swings[i].last - swings[i].first + 1 <= kLongestSwingFrames;
    if (short_enough && (i == from || (follows(i) && (i < from + 2 || swings_back(i))))) continue;
    const bool closed = close(from, i);
    if (!short_enough)
      from = i + 1;
    else
      from = !closed && i > from && follows(i) ? i - 1 : i;
  }
  close(from, swings.size());
  return found;
}

// The tracker's pitch of each frame, in cents from A4, NaN where it has
// none: as heard, and as notes hold it (a vibrato's frames all at its
// centre).
struct FramePitches {
  std::vector<double> heard, held;
};

FramePitches PitchesOf(const std::vector<TrackedFrame>& frames) {
  FramePitches p;
  // A window across a deep vibrato holds both ends of its swing, where the
  // pitch lingers, and so two harmonic series, as a chord's would: the
  // check gives such a frame no pitch, but its tracked pitch is one of the
  // ends, and counts in a vibrato.
  std::vector<double> swinging;
  for (const TrackedFrame& f : frames) {
    const bool pitched = f.mark != Reliability::kNoPitch;
    p.heard.push_back(pitched ? Cents(f.hz, 440.0) : NAN);
    swinging.push_back(pitched || (f.several_pitches && f.hz > 0) ? Cents(f.hz, 440.0) : NAN);
  }
  p.held = p.heard;
  for (const Vibrato& v : FindVibratos(swinging)) {
    // A window holds two series only across a swing wider than a
    // semitone: about a narrower one, they are several sounds (voices, a
    // note ringing on), and the check's word stands.
    bool several = false;
    for (size_t k = v.first; k <= v.last; ++k)
      several = several || (std::isnan(p.heard[k]) && !std::isnan(swinging[k]));
    if (several && v.width <= 2 * kNoteToleranceCents) continue;
    for (size_t k = v.first; k <= v.last; ++k) {
      p.heard[k] = swinging[k];
      p.held[k] = v.centre;
    }
  }
  return p;
}

// Half the spread of the middle 90 % of a note's pitch as the tracker
// hears it, inside the note: over the runs it was found in (not the slips
// between them), each without the frames whose window reaches past its
// ends. 0 for a note too short.
double HeardSwing(const std::vector<double>& heard, const std::vector<PlayedNote>& runs,
                  const PlayedNote& n) {
  std::vector<double> cents;
  for (const PlayedNote& run : runs) {
    if (run.first < n.first || run.last > n.last || run.last - run.first + 1 < kJoinGapFrames)
      continue;
    for (size_t k = run.first + kWindowHops; k + kWindowHops <= run.last; ++k)
      if (!std::isnan(heard[k])) cents.push_back(heard[k]);
  }
  return (Percentile(cents, 0.95) - Percentile(cents, 0.05)) / 2;
}

// Notes as the tracker hears them: runs of frames with a pitch (a
// vibrato's at its centre: FramePitches::held) that stays within
// kNoteToleranceCents of the run's mean; a slip of a few frames between
// two runs at one pitch (the tracker's octave errors, a dip in its
// confidence) joins them. Their pitch is measured here, where the tracker
// hears them; where they start and end is not: its window reaches half its
// length either side of a frame, so its pitch changes when the next note
// fills most of the window, not where the next note starts.
std::vector<PlayedNote> TrackedNotes(const std::vector<TrackedFrame>& frames,
                                     const FramePitches& heard_held) {
  const std::vector<double>& pitches = heard_held.held;
  std::vector<PlayedNote> runs;
  for (const PitchRun& found : FindPitchRuns(pitches, kNoteToleranceCents)) {
    PlayedNote run;
    run.first = found.first;
    run.last = found.last;
    runs.push_back(run);
  }

  auto median_cents = [&](const PlayedNote& n) {
    std::vector<double> cents;
    for (size_t k = n.first; k <= n.last; ++k)
      if (!std::isnan(pitches[k])) cents.push_back(pitches[k]);
    return Percentile(cents, 0.5);
  };
  std::vector<PlayedNote> notes;
  for (const PlayedNote& run : runs) {
    if (run.last - run.first + 1 < kJoinGapFrames) continue;  // a slip, not a note
    if (!notes.empty() && run.first - notes.back().last <= kJoinGapFrames + 1 &&
        std::fabs(median_cents(run) - median_cents(notes.back())) <= kNoteToleranceCents) {
      notes.back().last = run.last;
      continue;
    }
    notes.push_back(run);
  }
  // A short run in the gap between two notes may be a short note the
  // tracker heard in passing: the longest there is kept, to be judged once
  // its boundaries are placed (MergeHeardInPassing, DropShort).
  std::vector<PlayedNote> with_short;
  size_t next_run = 0;
  for (size_t i = 0; i < notes.size(); ++i) {
    with_short.push_back(notes[i]);
    if (i + 1 == notes.size()) break;
    const PlayedNote* longest = nullptr;
    for (; next_run < runs.size() && runs[next_run].first < notes[i + 1].first; ++next_run) {
      const PlayedNote& run = runs[next_run];
      size_t length = run.last - run.first + 1;
      if (run.first > notes[i].last && run.last < notes[i + 1].first &&
          length >= kShortestHeardFrames &&
          (!longest || length > longest->last - longest->first + 1))
        longest = &run;
    }
    if (longest) with_short.push_back(*longest);
  }
  notes = std::move(with_short);
  std::vector<PlayedNote> kept;
  for (PlayedNote& n : notes) {
    n.start_s = FrameStart(n.first);
    n.end_s = FrameEnd(n.last);
    n.heard_first = n.first;
    n.heard_last = n.last;
    std::vector<double> cents;
    std::vector<double> levels;
    for (size_t k = n.first; k <= n.last; ++k) {
      const TrackedFrame& f = frames[k];
      levels.push_back(f.level_db);
      if (!std::isnan(pitches[k])) cents.push_back(pitches[k]);
    }
    double middle = Percentile(cents, 0.5);
    n.hz = 440.0 * std::exp2(middle / 1200);
    n.vibrato_cents = HeardSwing(heard_held.heard, runs, n);  // FindNotes measures it again
    n.quiet_db = static_cast<float>(Percentile(levels, 0.5) - kQuietBelowNoteDb);
    // A run behind a note that never comes within kReleaseBelowNoteDb of
    // that note's level, nor rises above where the note faded out, is its
    // release or its room ringing on: it has no attack of its own.
    const double loudest = *std::max_element(levels.begin(), levels.end());
    if (!kept.empty() && loudest < kept.back().quiet_db + kQuietBelowNoteDb - kReleaseBelowNoteDb &&
        loudest < frames[kept.back().last].level_db + kReattackRiseDb)
      continue;
    kept.push_back(n);
  }
  return kept;
}

// The spacing of the crossings over hops lo..hi, on a log scale (so that a
// step counts alike at any pitch): a hop's spacings come as their mean
// between its first and last crossing, and the one from the hop before.
struct Spacing {
  int64_t start;               // the sample of the crossing that begins it
  double log_spacing, weight;  // weight: spacings in it
};

std::vector<Spacing> Spacings(const std::vector<TrackedFrame>& frames, size_t lo, size_t hi) {
  std::vector<Spacing> spacings;
  int64_t prev = -1;
  for (size_t k = lo; k <= hi && k < frames.size(); ++k) {
    const HopCrossings& h = frames[k].hop;
    if (h.count == 0) continue;
    int64_t first = CrossingAt(k, h.first), last = CrossingAt(k, h.last);
    if (prev >= 0) spacings.push_back({prev, std::log(static_cast<double>(first - prev)), 1});
    if (h.count > 1)
      spacings.push_back({first, std::log(static_cast<double>(last - first) / (h.count - 1)),
                          static_cast<double>(h.count - 1)});
    prev = last;
  }
  return spacings;
}

// The weighted median of [from, to) and the weighted absolute deviation from it.
std::pair<double, double> MedianSpacing(const std::vector<Spacing>& spacings, size_t from,
                                        size_t to) {
  std::vector<Spacing> part(spacings.begin() + static_cast<std::ptrdiff_t>(from),
                            spacings.begin() + static_cast<std::ptrdiff_t>(to));
  if (part.empty()) return {NAN, 0};
  std::sort(part.begin(), part.end(),
            [](const Spacing& x, const Spacing& y) { return x.log_spacing < y.log_spacing; });
  double total = 0, below = 0;
  for (const Spacing& p : part) total += p.weight;
  double median = part.back().log_spacing;
  for (const Spacing& p : part) {
    below += p.weight;
    if (below >= total / 2) {
      median = p.log_spacing;
      break;
    }
  }
  double deviation = 0;
  for (const Spacing& p : part) deviation += p.weight * std::fabs(p.log_spacing - median);
  return {median, deviation};
}

// Where the spacing of the crossings changes within hops lo..hi: the split
// into two runs, each about its own median (one odd spacing pulls nothing),
// with the least absolute deviation. Returns the sample where the second run
// starts; -1 when the hops hold too few crossings to tell.
int64_t SpacingChange(const std::vector<TrackedFrame>& frames, size_t lo, size_t hi) {
  std::vector<Spacing> spacings = Spacings(frames, lo, hi);
  if (spacings.size() < 2) return -1;
  size_t best = 1;
  double least = INFINITY;
  for (size_t split = 1; split < spacings.size(); ++split) {
    double d = MedianSpacing(spacings, 0, split).second +
               MedianSpacing(spacings, split, spacings.size()).second;
    if (d < least) {
      least = d;
      best = split;
    }
  }
  return spacings[best].start;
}

// A note played again, or tongued into the next, dips the level between
// the two: where the quietest hop within reach lies well below both notes,
// the change is there, however the partials blur the crossings' spacing.
// Returns the sample at that hop's centre; -1 without such a dip.
int64_t ReattackDip(const std::vector<TrackedFrame>& frames, size_t lo, size_t hi,
                    const PlayedNote& a, const PlayedNote& b) {
  size_t dip = lo;
  for (size_t k = lo; k <= hi && k < frames.size(); ++k)
    if (frames[k].level_db < frames[dip].level_db) dip = k;
  // quiet_db lies kQuietBelowNoteDb under a note's median level.
  const double quieter_note_db = std::min(a.quiet_db, b.quiet_db) + kQuietBelowNoteDb;
  if (frames[dip].level_db > quieter_note_db - kReattackDipDb) return -1;
  return static_cast<int64_t>(dip) * kTrackedHop;
}

// The hop that holds sample `at`.
size_t HopOf(int64_t at) {
  return static_cast<size_t>(std::max<int64_t>(0, at + kTrackedHop / 2) / kTrackedHop);
}

size_t Middle(size_t first, size_t last) { return (first + last + 1) / 2; }

// Moves each boundary not yet placed to where the signal changes: between
// two notes with no rest, to where the crossings' spacing changes, within the
// tracker's reach of where it heard the change (and not past the middle of
// either note as heard); a start or end at a rest, past the hops too quiet
// to be the note.
void PlaceBoundaries(const std::vector<TrackedFrame>& frames, std::vector<PlayedNote>* notes) {
  for (PlayedNote& n : *notes) {
    if (!n.change_before) n.first = n.heard_first;
    if (!n.change_after) n.last = n.heard_last;
  }
  for (size_t i = 1; i < notes->size(); ++i) {
    PlayedNote& a = (*notes)[i - 1];
    PlayedNote& b = (*notes)[i];
    if (a.change_after || b.heard_first > a.heard_last + 2 * kReachHops) continue;
    bool rest = false;
    for (size_t k = a.heard_last + 1; k < b.heard_first; ++k)
      rest = rest || frames[k].level_db < std::min(a.quiet_db, b.quiet_db);
    if (rest) continue;
    size_t lo = std::max({Middle(a.heard_first, a.heard_last),
                          a.heard_last > kReachHops ? a.heard_last - kReachHops : 0, a.first + 1});
    size_t hi = std::min(Middle(b.heard_first, b.heard_last), b.heard_first + kReachHops);
    if (b.change_after) hi = std::min(hi, b.last);
    int64_t at = lo < hi ? ReattackDip(frames, lo, hi, a, b) : -1;
    if (at < 0 && lo < hi) at = SpacingChange(frames, lo, hi);
    if (at < 0) continue;
    size_t hop = std::clamp(HopOf(at), a.first + 1, b.last);
    a.last = hop - 1;
    b.first = hop;
    a.end_s = b.start_s = std::max(0.0, static_cast<double>(at) / kTrackedRate);
    a.change_after = b.change_before = true;
  }
  for (PlayedNote& n : *notes) {
    if (!n.change_before) {
      while (n.first < n.last && frames[n.first].level_db < n.quiet_db) ++n.first;
      n.start_s = FrameStart(n.first);
    }
    if (!n.change_after) {
      while (n.last > n.first && frames[n.last].level_db < n.quiet_db) --n.last;
      n.end_s = FrameEnd(n.last);
    }
  }
}

}  // namespace

// The crossings over a note's hops, against its periods at the tracked
// pitch (the note's where the tracker hears another). Left out: the hops
// next to a change of note, which hold some of both, and quiet ones.
CrossingCount CountCrossings(const std::vector<TrackedFrame>& frames, const PlayedNote& n,
                             const std::function<uint16_t(size_t)>& crossings) {
  CrossingCount count;
  bool counting = false;
  for (size_t k = n.first; k <= n.last && k < frames.size(); ++k) {
    const TrackedFrame& f = frames[k];
    bool near_change = (n.change_before && k < n.first + kChangeHops) ||
                       (n.change_after && k + kChangeHops > n.last);
    if (near_change || f.level_db < n.quiet_db) {
      counting = false;
      continue;
    }
    double hz =
        f.mark != Reliability::kNoPitch && std::fabs(Cents(f.hz, n.hz)) <= kNoteToleranceCents
            ? f.hz
            : n.hz;
    count.crossings += crossings(k);
    count.periods += f.hop.samples * hz / kTrackedRate;
    count.runs += !counting;
    counting = true;
  }
  return count;
}

namespace {

// The median spacing of a note's crossings, on a log scale.
double NoteSpacing(const std::vector<TrackedFrame>& frames, const PlayedNote& n) {
  std::vector<Spacing> spacings = Spacings(frames, n.first, n.last);
  return MedianSpacing(spacings, 0, spacings.size()).first;
}

// A note the tracker heard for less than a window may be no note: a window
// that holds two notes can have a pitch of neither (their common period).
// Once its boundaries are placed, such a note whose crossings are spaced as
// a neighbour's, rather than as its own pitch would space them, is part of
// that neighbour, whose boundary on that side is then placed again.
bool MergeHeardInPassing(const std::vector<TrackedFrame>& frames, std::vector<PlayedNote>* notes) {
  std::vector<PlayedNote> kept;
  bool merged = false, just_merged = false;
  for (size_t i = 0; i < notes->size(); ++i) {
    const PlayedNote& x = (*notes)[i];
    bool passing = x.heard_last - x.heard_first < kTrackedWindow / kTrackedHop && !just_merged;
    just_merged = false;
    double own = passing ? NoteSpacing(frames, x) : NAN;
    // Into a note heard for longer, whose pitch is the surer.
    auto alike = [&](const PlayedNote& n) {
      return n.heard_last - n.heard_first > x.heard_last - x.heard_first &&
             std::fabs(own - NoteSpacing(frames, n)) < std::fabs(std::log(n.hz / x.hz)) / 2;
    };
    if (passing && x.change_before && !kept.empty() && alike(kept.back())) {
      PlayedNote& n = kept.back();
      n.heard_last = x.heard_last;
      n.change_after = false;
      if (i + 1 < notes->size()) (*notes)[i + 1].change_before = false;
      merged = just_merged = true;
    } else if (passing && x.change_after && i + 1 < notes->size() && alike((*notes)[i + 1])) {
      PlayedNote& n = (*notes)[i + 1];
      n.heard_first = x.heard_first;
      n.change_before = false;
      if (!kept.empty()) kept.back().change_after = false;
      merged = just_merged = true;
    } else {
      kept.push_back(x);
    }
  }
  *notes = std::move(kept);
  return merged;
}

// Notes shorter than kShortestNoteSeconds go; their neighbours' boundary is
// placed again.
bool DropShort(std::vector<PlayedNote>* notes) {
  std::vector<PlayedNote> kept;
  for (const PlayedNote& n : *notes) {
    if (n.End() - n.Start() >= kShortestNoteSeconds) {
      kept.push_back(n);
    } else if (!kept.empty()) {
      kept.back().change_after = false;
    }
  }
  for (size_t i = 1; i < kept.size(); ++i)
    if (!kept[i - 1].change_after) kept[i].change_before = false;
  bool dropped = kept.size() < notes->size();
  *notes = std::move(kept);
  return dropped;
}

// A note's pitch over spans of whole periods from its crossings, one from
// each hop's first crossing, about a hop long: half the spread of the
// middle 90 % of them, in cents. The crossings follow a vibrato period by
// period, where the tracker's window holds much of a cycle. NaN where they
// measure no swing: where they come in no whole number a period (partials
// that cross zero now and then, noise), where too many spans lie further
// off the note than a vibrato goes (a crossing gained or lost), and where
// the pitch does not move smoothly from hop to hop (kSmoothSteps), as
// their jitter does not.
double CrossingSwing(const std::vector<TrackedFrame>& frames, const PlayedNote& n, size_t lo,
                     size_t hi) {
  const double per_period = n.crossings_per_period;
  const auto whole = static_cast<uint64_t>(std::lround(per_period));
  if (whole < 2 || std::fabs(per_period - static_cast<double>(whole)) > kWholeCrossingsWithin)
    return NAN;
  struct Point {
    size_t hop;
    bool first;      // of its hop
    double at;       // samples
    uint64_t index;  // of its crossing in the note
  };
  // Points of consecutive hops inside the note and loud enough to be it.
  std::vector<std::vector<Point>> stretches;
  uint64_t index = 0;
  bool inside = false;
  for (size_t k = n.first; k <= n.last && k < frames.size(); ++k) {
    const HopCrossings& h = frames[k].hop;
    const bool usable = k >= lo && k <= hi && frames[k].level_db >= n.quiet_db;
    if (usable && !inside) stretches.emplace_back();
    if (usable && h.count > 0)
      stretches.back().push_back({k, true, CrossingTime(k, h.first, h.first_lead), index});
    if (usable && h.count > 1)
      stretches.back().push_back(
          {k, false, CrossingTime(k, h.last, h.last_lead), index + h.count - 1});
    index += h.count;
    inside = usable;
  }
  const double longest = 2 * kTrackedHop + kTrackedRate / n.hz;
  struct Estimate {
    size_t hop;
    double cents;
  };
  std::vector<Estimate> estimates;
  size_t stray = 0;
  for (const std::vector<Point>& points : stretches) {
    for (size_t i = 0; i < points.size(); ++i) {
      if (!points[i].first) continue;
      for (size_t j = i + 1; j < points.size(); ++j) {
        const double span = points[j].at - points[i].at;
        if (span > longest) break;
        const uint64_t crossings = points[j].index - points[i].index;
        if (crossings % whole != 0 || span < kTrackedHop) continue;
        const double hz = static_cast<double>(crossings / whole) * kTrackedRate / span;
        const double off = Cents(hz, n.hz);
        if (std::fabs(off) <= 2 * kDeepestVibratoCents)
          estimates.push_back({points[i].hop, off});
        else
          ++stray;
        break;
      }
    }
  }
  if (estimates.empty() || stray > kStraySpansShare * static_cast<double>(estimates.size() + stray))
    return NAN;
  double mean = 0;
  for (const Estimate& e : estimates) mean += e.cents / estimates.size();
  double about = 0, step = 0;
  size_t steps = 0;
  std::vector<double> cents;
  for (size_t i = 0; i < estimates.size(); ++i) {
    about += (estimates[i].cents - mean) * (estimates[i].cents - mean);
    if (i > 0 && estimates[i].hop == estimates[i - 1].hop + 1) {
      step += (estimates[i].cents - estimates[i - 1].cents) *
              (estimates[i].cents - estimates[i - 1].cents);
      ++steps;
    }
    cents.push_back(estimates[i].cents);
  }
  if (steps == 0 || step / steps >= kSmoothSteps * about / estimates.size()) return NAN;
  return (Percentile(cents, 0.95) - Percentile(cents, 0.05)) / 2;
}

// How far a note's pitch swings about its own, inside the note (without
// the hops whose window reaches past its ends): as its crossings measure
// it, where they measure no more than the tracker hears allows (its window
// keeps at least kTrackedShareOfSwing of a vibrato up to 8 Hz: more is
// partials' crossings coming and going); else as the tracker hears it.
double VibratoCents(const std::vector<TrackedFrame>& frames, const PlayedNote& n,
                    double heard_swing) {
  if (n.last < n.first + 2 * kWindowHops) return heard_swing;
  const double swing = CrossingSwing(frames, n, n.first + kWindowHops, n.last - kWindowHops);
  return swing <= heard_swing / kTrackedShareOfSwing ? swing : heard_swing;
}

}  // namespace

std::vector<PlayedNote> FindNotes(const std::vector<TrackedFrame>& frames) {
  std::vector<PlayedNote> notes = TrackedNotes(frames, PitchesOf(frames));
  do {
    do {
      PlaceBoundaries(frames, &notes);
    } while (MergeHeardInPassing(frames, &notes));
  } while (DropShort(&notes));
  for (PlayedNote& n : notes) {
    CrossingCount count = CountCrossings(frames, n, [&](size_t k) { return frames[k].hop.count; });
    n.crossings_per_period = count.periods > 0 ? count.crossings / count.periods : 0;
    n.harmonics = count.Harmonics();
    n.vibrato_cents = VibratoCents(frames, n, n.vibrato_cents);
  }
  return notes;
}

NoNote WhyNoNote(const std::vector<TrackedFrame>& frames, const std::vector<PlayedNote>& notes,
                 double gate_db) {
  size_t pitched = 0, several = 0, held = 0;
  // A vibrato's frames have its pitch, though the check hears two in some.
  const std::vector<double> pitches = PitchesOf(frames).held;
  for (size_t k = 0; k < frames.size(); ++k) {
    pitched += !std::isnan(pitches[k]);
    several += frames[k].several_pitches && std::isnan(pitches[k]);
  }
  for (const PlayedNote& n : notes) held += n.last - n.first + 1;
  char line[320], reason[120];
  const double several_share = several / std::max(1.0, static_cast<double>(pitched + several));
  if (several_share > kMostlySeveralPitches) {
    std::snprintf(line, sizeof line,
                  "no note: %.0f %% of the sound with a pitch holds several pitches at once\n"
                  "          (chords, or several sounds); the module follows one pitch: its "
                  "reading means little",
                  100 * several_share);
    std::snprintf(reason, sizeof reason, "no single pitch held for %g s: several at once (chords?)",
                  kShortestNoteSeconds);
    return {line, reason};
  }
  if (!notes.empty() && held < kLeastHeldShare * pitched) {
    std::snprintf(line, sizeof line,
                  "no note: a pitch is held for %g s in only %.0f %% of the sound with one;\n"
                  "          it glides (speech?): the module's reading follows the glide",
                  kShortestNoteSeconds, 100.0 * held / pitched);
    std::snprintf(reason, sizeof reason,
                  "a pitch held for %g s in only %.0f %% of the sound: it glides (speech?)",
                  kShortestNoteSeconds, 100.0 * held / pitched);
    return {line, reason};
  }
  if (!notes.empty()) return {};
  std::snprintf(line, sizeof line,
                "no note: nothing held a pitch for %g s above the gate (%g dBFS)\n"
                "          (noise, speech, silence or chords); the module's reading of it means "
                "little",
                kShortestNoteSeconds, gate_db);
  return {line, ""};
}

}  // namespace tonevolt
