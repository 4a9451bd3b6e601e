-- Every global of the three script libraries called with random mixes of
-- good and bad values (numbers at the edges, texts, tables, Lua's own
-- userdata, live, derived, freed and foreign handles) for a bounded time, in
-- a child interpreter: it must end without a crash, having raised errors and
-- done work. Seed 16 and 3 seconds (of processor time) unless VEMORA_FUZZ_SEED and
-- VEMORA_FUZZ_SECONDS say otherwise.
local T = dofile((arg[0]:match("^(.*)/") or ".") .. "/testlib.lua")

local WORKER = [[
local BIN, DIR, SEED, SECONDS = ...
local before = {}
for name in pairs(_G) do before[name] = true end
for _, lib in ipairs({"scriptbase.dll", "blockcrypt.dll", "usbwire.dll"}) do
  assert(package.loadlib(BIN .. "/" .. lib, "l_RegAllFun"))()
end
local names = {}
for name, value in pairs(_G) do
  if not before[name] and type(value) == "function" then names[#names + 1] = name end
end
table.sort(names)
math.randomseed(SEED)
local random = math.random

local VALUES = {0, 1, -1, 2, 4, 15, 16, 17, 255, 4096, 2^31 - 1, -2^31, 2^31, 2^32, 2^32 + 16,
  -2^53, 2^63, 1e300, -1e300, 0/0, 1/0, -1/0, 0.5, -0.5, 3.99,
  "", "0", "00ff", "abc", "zz", " f-1", string.rep("ab", 40), string.rep("x", 2000), "a\0b",
  "r", "rb", "w", "w+", "a", "f1", "f2", "sub", "sub/f3", "nope/none",
  true, false, {}, print, io.stdout, newproxy(), newproxy(true), coroutine.create(function() end),
  fopen(nil, "r")}
-- Handles the calls hand out (and any number they answer) join these.
local results, live = {}, {}
local function keep(value)
  if #results < 64 then results[#results + 1] = value else results[random(64)] = value end
end
local function pick()
  local r = random(10)
  if r == 1 then return nil end
  if r <= 5 and #results > 0 then return results[random(#results)] end
  return VALUES[random(#VALUES)]
end
-- Live objects of each kind, so that handles are often real ones; the oldest
-- go when there are many (their handles stay behind as stale ones).
local function fresh(kind, value, release)
  local list = live[kind] or {}
  live[kind] = list
  list[#list + 1] = value
  keep(value)
  if #list > 32 then pcall(release, table.remove(list, 1)) end
end

local calls, raised, used = 0, 0, {}
local stop = os.clock() + SECONDS
while os.clock() < stop do
  if calls % 50 == 0 then
    fresh("buffer", MallocBuffer(random(0, 64)), FreeBuffer)
    fresh("stream", fopen(DIR .. "/f1", "a+"), fclose)
    fresh("fd", LFopen(DIR .. "/f2", 2), LFclose)
    local key = MallocBuffer(32)
    fresh("context", Dec_Initial(key, random(1, 32)), Dec_UnInitial)
    FreeBuffer(key)
  end
  local name = names[random(#names)]
  local n = random(0, 6)
  local args = {}
  for i = 1, n do args[i] = pick() end
  -- Memory stays bounded: no buffer above 64 KiB.
  if name == "MallocBuffer" and type(args[1]) == "number" and args[1] > 65536 then args[1] = 16 end
  local result = {pcall(_G[name], unpack(args, 1, n))}
  calls = calls + 1
  used[name] = true
  if not result[1] then
    raised = raised + 1
  elseif name == "Fex_Open" then
    -- The transport cannot check script buffers: its handles stay out.
    if result[2] then Fex_Close(result[2]) end
  else
    for i = 2, #result do
      if type(result[i]) == "userdata" or type(result[i]) == "number" then keep(result[i]) end
    end
  end
end
local missed = {}
for _, name in ipairs(names) do
  if not used[name] then missed[#missed + 1] = name end
end
local out = io.open(DIR .. "/summary", "w")
out:write(string.format("%d %d %d %s\n", #names, calls, raised, table.concat(missed, ",")))
out:close()
]]

local seed = tonumber(os.getenv("VEMORA_FUZZ_SEED")) or 16
local seconds = tonumber(os.getenv("VEMORA_FUZZ_SECONDS")) or 3

T.run({
  {string.format("random arguments, seed %d, %g s", seed, seconds), function(dir)
    os.execute("mkdir '" .. dir .. "/sub'")
    T.writefile(dir .. "/worker.lua", WORKER)
    -- Files stay below 1 MiB (a write beyond fails instead of filling the
    -- disk through a 4 GiB seek), a hang fails as a crash does, and the
    -- output of the calls is dropped. The worker drops handles at random, so
    -- what it leaves unfreed is its own (no leak check under the sanitizers).
    local status = os.execute(string.format(
      "cd '%s' && ulimit -f 2048 && trap '' XFSZ && ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\""
        .. " timeout %d '%s' '%s/worker.lua' '%s' '%s' %d %g"
        .. " >/dev/null 2>'%s/err'", dir, 10 * seconds + 60, arg[-1], dir, T.shell("pwd"), dir,
      seed, seconds, dir))
    T.eq(status, 0, "worker ended well (no crash); its standard error ends: "
      .. tostring((T.readfile(dir .. "/err") or ""):sub(-400)))
    local functions, calls, raised, missed =
      T.readfile(dir .. "/summary"):match("^(%d+) (%d+) (%d+) (.*)\n$")
    print(string.format("%s functions, %s calls, %s raised an error", functions, calls, raised))
    T.eq(tonumber(functions), 48 + 4 + 7, "globals of the three libraries")
    T.eq(missed, "", "functions never called")
    T.truthy(tonumber(raised) > 0 and tonumber(raised) < tonumber(calls), "some calls raised, some did not")
  end},
})
