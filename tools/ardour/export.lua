-- Loads a session and exports its first NSAMPLES samples NEXPORTS times (float WAV, named
-- OUTNAME1, OUTNAME2, ... in OUTDIR). With LISTEN_MS > 0 the transport first plays for that long
-- and stops, as when a user listens before the bounce.
local s = load_session(os.getenv("SESSDIR"), "s")
assert(s, "load_session failed")
local listen = tonumber(os.getenv("LISTEN_MS") or "0")
if listen > 0 then
  s:request_roll(ARDOUR.TransportRequestSource.TRS_UI)
  ARDOUR.LuaAPI.usleep(listen * 1000)
  s:request_stop(false, false, ARDOUR.TransportRequestSource.TRS_UI)
  ARDOUR.LuaAPI.usleep(500000)
end
for i = 1, tonumber(os.getenv("NEXPORTS") or "1") do
  local e = s:simple_export()
  e:set_name(os.getenv("OUTNAME") .. i)
  assert(e:set_preset(os.getenv("PRESET")), "export preset not found")
  e:set_folder(os.getenv("OUTDIR"))
  e:set_range(0, tonumber(os.getenv("NSAMPLES")))
  assert(e:run_export(), "export failed")
end
close_session()
quit()
