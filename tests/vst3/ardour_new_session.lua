-- A new session on the Dummy backend with a mono track for each name given,
-- each holding the same region: LENGTH samples of silence in a file of its
-- own, input.wav, which the test then fills with its signal. Ardour's Lua
-- cannot import audio, but a bounce makes a source and a region that the
-- session saves.
--
--   ardour7-lua ardour_new_session.lua DIR NAME RATE LENGTH TRACK...
io.stdout:setvbuf("line")
local dir, name, rate, length = arg[1], arg[2], tonumber(arg[3]), tonumber(arg[4])

local backend = AudioEngine:set_backend("None (Dummy)", "", "")
assert(backend and AudioEngine:current_backend_name() == "Dummy", "no Dummy backend")
backend:set_sample_rate(rate)
local session = create_session(dir, name, rate)
assert(session, "cannot create the session")
assert(session:nominal_sample_rate() == rate, "session rate " .. session:nominal_sample_rate())

local region
for i = 5, #arg do
  local track = session:new_audio_track(1, 1, nil, 1, arg[i], ARDOUR.PresentationInfo.max_order,
                                        ARDOUR.TrackMode.Normal, true):front()
  assert(track:name() == arg[i], "track named " .. track:name())
  if not region then
    -- The first track's bounce with nothing on it, up to its first
    -- processor (a nil endpoint crashes Ardour 7.3).
    region = track:bounce_range(0, length, ARDOUR.InterThreadInfo(), track:nth_processor(0),
                                false, "input")
    assert(not region:isnil(), "the bounce made no region")
    assert(region:length():samples() == length, "region length " .. region:length():samples())
  end
  local playlist = track:playlist()
  playlist:add_region(region, Temporal.timepos_t(0), 1, false)
  -- The signal must reach the plug-in as it is in the file: no fades, no
  -- envelope (the playlist holds a copy of the bounce's region).
  for r in playlist:region_list():iter() do
    local audio_region = r:to_audioregion()
    audio_region:set_fade_in_active(false)
    audio_region:set_fade_out_active(false)
    audio_region:set_envelope_active(false)
  end
end

session:save_state("", false, false, false, false, false)
close_session()
print("ardour: new session " .. dir)
