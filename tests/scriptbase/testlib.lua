-- Helpers shared by the scriptbase script tests: assertions, a scratch
-- directory, a child interpreter whose output is examined, and a runner that
-- reports every case and fails the script when one failed.
-- The scripts run in build/bin, where "./scriptbase.dll" lies.
local T = {}

local function fail(level, fmt, ...)
  error(string.format(fmt, ...), level + 1)
end

function T.eq(actual, expected, what)
  if actual ~= expected then
    fail(2, "%s: expected %s, got %s", what, tostring(expected), tostring(actual))
  end
end

function T.truthy(value, what)
  if not value then
    fail(2, "%s: expected a true value, got %s", what, tostring(value))
  end
end

-- Calls fn(...) and expects a Lua error whose text contains `text`.
function T.raises(text, fn, ...)
  local ok, err = pcall(fn, ...)
  if ok then
    fail(2, "expected an error containing %q, got none", text)
  end
  if not string.find(tostring(err), text, 1, true) then
    fail(2, "expected an error containing %q, got %q", text, tostring(err))
  end
end

-- Bytes of a buffer as a table of numbers, for readable comparisons.
function T.bytes(h, count)
  local t = {}
  for i = 0, count - 1 do
    t[#t + 1] = GetInt8FrmMem(h, i)
  end
  return table.concat(t, " ")
end

function T.register()
  local reg = assert(package.loadlib("./scriptbase.dll", "l_RegAllFun"))
  reg()
end

local function shell(cmd)
  local p = assert(io.popen(cmd))
  local out = p:read("*a")
  p:close()
  return (out:gsub("\n$", ""))
end
T.shell = shell

function T.readfile(path)
  local f = io.open(path, "rb")
  if not f then
    return nil
  end
  local data = f:read("*a")
  f:close()
  return data
end

function T.writefile(path, data)
  local f = assert(io.open(path, "wb"))
  f:write(data)
  f:close()
end

-- Runs `code` in a fresh interpreter (same working directory) after the
-- library was registered there; returns stdout, stderr and whether the
-- child ended well. `setup` is shell text run before it (limits, traps);
-- `interpreter` replaces the one running this script.
function T.child(dir, code, setup, interpreter)
  local script = dir .. "/child.lua"
  T.writefile(script, 'assert(package.loadlib("./scriptbase.dll", "l_RegAllFun"))()\n' .. code)
  local status = os.execute(string.format("%s '%s' '%s' >'%s/out' 2>'%s/err'", setup or "",
    interpreter or arg[-1], script, dir, dir))
  return T.readfile(dir .. "/out"), T.readfile(dir .. "/err"), status == 0
end

-- Runs the named cases in order, each with a fresh scratch directory that is
-- removed afterwards, and exits non-zero when any failed.
function T.run(cases)
  local failed = 0
  for _, case in ipairs(cases) do
    local dir = shell("mktemp -d")
    assert(dir:match("^/"), "mktemp -d failed")
    local ok, err = pcall(case[2], dir)
    os.execute("rm -rf '" .. dir .. "'")
    -- Several log lines of the library end without a line end.
    io.stdout:write("\n")
    if ok then
      print("ok   " .. case[1])
    else
      failed = failed + 1
      print("FAIL " .. case[1] .. ": " .. tostring(err))
    end
  end
  print(string.format("%d of %d cases passed", #cases - failed, #cases))
  os.exit(failed == 0 and 0 or 1)
end

return T
