-- Creates a session with one mono track ("Guitar", two outputs) playing through the plug-in.
-- Environment: SESSDIR (must not exist), RATE.
local s = create_session(os.getenv("SESSDIR"), "s", tonumber(os.getenv("RATE")))
assert(s, "create_session failed")
local track = s:new_audio_track(1, 2, nil, 1, "Guitar", ARDOUR.PresentationInfo.max_order,
                                ARDOUR.TrackMode.Normal, true):front()
local plugin = ARDOUR.LuaAPI.new_plugin(s, "Ferrowick", ARDOUR.PluginType.VST3, "")
assert(not plugin:isnil(), "the plug-in was not found")
assert(track:add_processor_by_index(plugin, 0, nil, true) == 0, "the plug-in could not be added")
s:save_state("", false, false, false, false, false)
close_session()
quit()
