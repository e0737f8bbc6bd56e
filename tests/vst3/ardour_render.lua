-- Bounces each case of the plan through its plug-in, on the case's track,
-- from the start of the session for LENGTH samples: one file per plug-in
-- output, named after the track (NAME.wav, or NAME%L.wav and NAME%R.wav).
--
--   ardour7-lua ardour_render.lua DIR NAME RATE TYPE PLAN LENGTH MODE
--
-- MODE new: adds the plug-ins (TYPE VST3 or LV2, by name) with strict I/O
-- off, so that every output is bounced at unity gain, sets their parameters
-- from Lua, bounces and saves the session.
-- reopened, from-state: finds the plug-ins the saved session holds, checks
-- their parameters came back as set, and bounces again, to NAME-MODE.
--
-- PLAN has a line per case: TRACK, PLUGIN and LABEL=VALUE settings, tab
-- separated. A value is plain (Ardour takes plain values in every format),
-- or #INDEX for a list's entry: hosts number those from their own least.
io.stdout:setvbuf("line")
local dir, name, rate, plugin_type = arg[1], arg[2], tonumber(arg[3]), arg[4]
local plan_path, length, mode = arg[5], tonumber(arg[6]), arg[7]

local function read_plan(path)
  local cases = {}
  for line in io.lines(path) do
    local fields = {}
    for field in line:gmatch("[^\t]+") do fields[#fields + 1] = field end
    local settings = {}
    for i = 3, #fields do
      local label, entry, value = fields[i]:match("^(.-)=(#?)(.*)$")
      settings[#settings + 1] = { label = label, entry = entry == "#", value = tonumber(value) }
    end
    cases[#cases + 1] = { track = fields[1], plugin = fields[2], settings = settings }
  end
  return cases
end

-- The index set_processor_param takes for the input parameter labelled
-- as SETTING's, and the value it takes for SETTING; nil when Ardour shows
-- no such parameter.
local function parameter(processor, setting)
  local plugin = processor:to_insert():plugin(0)
  for i = 0, plugin:parameter_count() - 1 do
    local id, found = plugin:nth_parameter(i, true)
    if found[2] and plugin:parameter_is_input(id) then
      local _, refs = plugin:get_parameter_descriptor(id, ARDOUR.ParameterDescriptor())
      local descriptor = refs[2]
      if descriptor.label == setting.label then
        return i, setting.entry and descriptor.lower + setting.value or setting.value
      end
    end
  end
end

local function add_plugin(session, track, plugin_name)
  -- With strict I/O a track keeps its own channel count: a 1-in 2-out
  -- plug-in would lose its second output, and its first would be panned.
  track:set_strict_io(false)
  local processor = ARDOUR.LuaAPI.new_plugin(session, plugin_name, ARDOUR.PluginType[plugin_type], "")
  assert(not processor:isnil(), "Ardour has no " .. plugin_type .. " plug-in " .. plugin_name)
  assert(track:add_processor_by_index(processor, 0, nil, true) == 0, "cannot add " .. plugin_name)
  return processor
end

-- The track's only plug-in.
local function find_plugin(track, plugin_name)
  local processor = track:nth_plugin(0)
  assert(not processor:isnil() and track:nth_plugin(1):isnil(), track:name() .. ": not one plug-in")
  assert(processor:display_name() == plugin_name, "found " .. processor:display_name())
  return processor
end

local function wait_for_cycles()
  assert(ARDOUR.LuaAPI.wait_for_process_callback(4, 10000), "the engine does not run")
end

local backend = AudioEngine:set_backend("None (Dummy)", "", "")
assert(backend and AudioEngine:current_backend_name() == "Dummy", "no Dummy backend")
backend:set_sample_rate(rate)
local session = load_session(dir, name)
assert(session, "cannot load the session")

local failures = 0
local function fail(message)
  print("ardour: FAIL: " .. message)
  failures = failures + 1
end

for _, case in ipairs(read_plan(plan_path)) do
  local track = session:route_by_name(case.track):to_track()
  assert(not track:isnil(), "no track " .. case.track)
  local processor
  if mode == "new" then
    processor = add_plugin(session, track, case.plugin)
  else
    processor = find_plugin(track, case.plugin)
  end
  for _, setting in ipairs(case.settings) do
    local index, value = parameter(processor, setting)
    if not index then
      fail(case.track .. ": Ardour shows " .. case.plugin .. " without " .. setting.label)
    else
      if mode == "new" and not ARDOUR.LuaAPI.set_processor_param(processor, index, value) then
        fail(string.format("%s: cannot set %s to %.9g", case.track, setting.label, value))
      end
      local held = ARDOUR.LuaAPI.get_processor_param(processor, index, true)
      local found = string.format("%s %s: %s = %.9g", case.track, mode, setting.label, held)
      if math.abs(held - value) > 1e-6 * math.max(1, math.abs(value)) then
        fail(string.format("%s, set to %.9g", found, value))
      else
        print("ardour: " .. found .. ", as set")
      end
    end
  end
  if mode == "new" then
    -- The tracker reads its lowest note when activated: deactivate and
    -- activate the plug-in, as a user would with bypass. Ardour hands the
    -- plug-in new values, and activates it, in its process cycles.
    wait_for_cycles()
    processor:deactivate()
    wait_for_cycles()
    processor:activate()
    wait_for_cycles()
  end
  local suffix = mode == "new" and "" or "-" .. mode
  local region = track:bounce_range(0, length, ARDOUR.InterThreadInfo(), processor, true,
                                    case.track .. suffix)
  assert(not region:isnil() and region:length():samples() == length, case.track .. ": bounce failed")
  print("ardour: bounced " .. case.track .. suffix .. " through " .. processor:display_name())
end

if mode == "new" then session:save_state("", false, false, false, false, false) end
close_session()
assert(failures == 0, failures .. " parameters not as planned")
