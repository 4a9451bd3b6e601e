-- Registration, trace, 64-bit helpers and paths of scriptbase.dll.
local T = dofile((arg[0]:match("^(.*)/") or ".") .. "/testlib.lua")
T.register()

local MISC = {"MessageBox", "Exit", "DebugTrace", "TraceBuffer", "CompareInt64", "Int64Add", "Int64Dec"}
local PATHS = {"GetExecPath", "GetCurrentDirectory", "SetCurrentDirectory", "GetFileNameFromPath"}
local BUFFERS = {"MallocBuffer", "FreeBuffer", "GetBuffer", "Memcpy", "Memset", "Memcmp",
  "BufferToString", "StringtoBuffer", "GetMemValue", "SetMemValue", "BufferToChars",
  "CharsToBuffer", "GetInt32FrmMem", "SetInt32FrmMem", "GetInt16FrmMem", "SetInt16FrmMem",
  "GetByteBitsFrmMem", "SetByteBitsFrmMem", "GetIntBitsFrmMem", "SetIntBitsFrmMem",
  "GetInt8FrmMem", "SetInt8FrmMem", "calc_crc32", "add_sum"}
local FILES = {"fopen", "fseek", "fwrite", "fread", "fclose", "fgetALine", "LFopen", "LFseek",
  "LFwrite", "LFread", "LFclose", "DeleteFile", "CopyFile"}

local function all(groups)
  local names = {}
  for _, g in ipairs(groups) do
    for _, n in ipairs(g) do names[#names + 1] = n end
  end
  return names
end

local function expect_only(present, absent)
  for _, n in ipairs(present) do T.eq(type(_G[n]), "function", n) end
  for _, n in ipairs(absent) do T.eq(_G[n], nil, n) end
end

local BIN = T.shell("pwd -P")

T.run({
  {"l_RegAllFun defines the 48 globals", function()
    local names = all({MISC, PATHS, BUFFERS, FILES})
    T.eq(#names, 48, "name count")
    expect_only(names, {"MidBuffer", "l_MidBuffer"})
  end},

  {"l_RegAllFun defines them in its order", function()
    local names = all({MISC, PATHS, BUFFERS, FILES})
    local saved, order = {}, {}
    for _, n in ipairs(names) do saved[n] = _G[n]; _G[n] = nil end
    setmetatable(_G, {__newindex = function(t, k, v) order[#order + 1] = k; rawset(t, k, v) end})
    local ok, err = pcall(T.register)
    setmetatable(_G, nil)
    for _, n in ipairs(names) do _G[n] = saved[n] end
    assert(ok, err)
    T.eq(table.concat(order, " "), table.concat(names, " "), "definition order")
  end},

  {"each registration entry on its own", function()
    local names = all({MISC, PATHS, BUFFERS, FILES})
    local saved = {}
    for _, n in ipairs(names) do saved[n] = _G[n]; _G[n] = nil end
    local ok, err = pcall(function()
      assert(package.loadlib("./scriptbase.dll", "RegBuferFun"))()
      expect_only(BUFFERS, all({MISC, PATHS, FILES}))
      assert(package.loadlib("./scriptbase.dll", "RegFileFun"))()
      expect_only(all({BUFFERS, FILES}), all({MISC, PATHS}))
      assert(package.loadlib("./scriptbase.dll", "RegPathFun"))()
      expect_only(all({BUFFERS, FILES, PATHS}), MISC)
    end)
    for _, n in ipairs(names) do _G[n] = saved[n] end
    assert(ok, err)
  end},

  {"l_MidBuffer by its exported name", function()
    local mid = assert(package.loadlib("./scriptbase.dll", "l_MidBuffer"))
    local h = MallocBuffer(16)
    SetInt8FrmMem(h, 5, 99)
    T.eq(GetInt8FrmMem(mid(h, 5), 0), 99, "buffer + offset")
    T.eq(mid(h, 5), GetBuffer(h, 5), "same as GetBuffer")
    FreeBuffer(h)
  end},

  {"MessageBox writes a line and returns 0", function(dir)
    local out, err, ok = T.child(dir, [[
      local r = MessageBox(nil, "flash done")
      io.stdout:write("|", tostring(r), "|")
      MessageBox(1, "second", 42)
      Exit()
    ]])
    T.truthy(ok, "child ran: " .. tostring(err))
    T.eq(out, "flash done\n|0|second\n", "output")
  end},

  {"MessageBox third argument must be text", function()
    T.raises("bad argument #3 to 'MessageBox' (string expected, got table)", function()
      MessageBox(nil, "x", {})
    end)
    T.raises("bad argument #2 to 'MessageBox' (string expected, got nil)", function()
      MessageBox(nil, nil)
    end)
  end},

  {"DebugTrace and TraceBuffer", function(dir)
    local out, err, ok = T.child(dir, [[
      DebugTrace("step 1")
      local h = MallocBuffer(1024)
      Memset(h, 0x41, 1024)
      TraceBuffer(h, 1000)
      CharsToBuffer(h, "ab")
      SetInt8FrmMem(h, 2, 0)
      io.stdout:write("|")
      TraceBuffer(h, 1000)
      TraceBuffer(h, 1)
      FreeBuffer(h)
    ]])
    T.truthy(ok, "child ran: " .. tostring(err))
    local first, rest = out:match("^step 1\n(A+)\n(.*)$")
    T.truthy(first, "trace line: " .. out:sub(1, 40))
    T.eq(#first, 512, "at most 512 characters")
    T.truthy(rest:match("|ab\na\n$"), "stops at the zero byte and at the length: " .. rest)
    T.raises("buffer handle is null", function() TraceBuffer(nil, 4) end)
    local h = MallocBuffer(16)
    T.raises("count must not be negative", function() TraceBuffer(h, -1) end)
    FreeBuffer(h)
  end},

  {"64-bit arithmetic on halves", function()
    local lo, hi = Int64Add(4294967295, 0, 1, 0)
    T.eq(lo, 0, "carry low"); T.eq(hi, 1, "carry high")
    lo, hi = Int64Add(4294967295, 4294967295, 2, 0)
    T.eq(lo, 1, "wrap low"); T.eq(hi, 0, "wrap high")
    lo, hi = Int64Dec(0, 1, 1, 0)
    T.eq(lo, 4294967295, "borrow low"); T.eq(hi, 0, "borrow high")
    lo, hi = Int64Dec(1, 0, 2, 0)
    T.eq(lo, 4294967295, "negative low"); T.eq(hi, 4294967295, "negative high")
    lo, hi = Int64Add(-1, 0, 0, 0)
    T.eq(lo, 4294967295, "-1 cut to 32 bits"); T.eq(hi, 0, "no sign spread")
    T.eq(select("#", Int64Add(1, 2, 3, 4)), 2, "two results")
    T.eq(CompareInt64(5, 7, 5, 7), 1, "equal")
    T.eq(CompareInt64(0, 2147483648, 0, 0), 0, "negative is smaller")
    T.eq(CompareInt64(0, 1, 4294967295, 0), 2, "high half decides")
    T.eq(CompareInt64(1, 0, 2, 0), 0, "low half decides")
  end},

  {"program and working directories", function(dir)
    local exe = T.shell("readlink -f \"$(command -v '" .. arg[-1] .. "')\"")
    T.eq(GetExecPath(), exe:match("^(.*/)"), "program directory with trailing /")
    T.eq(GetCurrentDirectory(), BIN, "working directory")
    local real = T.shell("cd '" .. dir .. "' && pwd -P")
    SetCurrentDirectory(dir)
    T.eq(GetCurrentDirectory(), real, "changed")
    SetCurrentDirectory(dir .. "/missing")
    T.eq(GetCurrentDirectory(), real, "a failed change keeps the directory")
    -- Deeper than 259 characters: no text fits, so the empty one comes back.
    local deep = string.rep("d", 200)
    os.execute("mkdir -p '" .. deep .. "/" .. deep .. "'")
    SetCurrentDirectory(deep)
    SetCurrentDirectory(deep)
    T.eq(GetCurrentDirectory(), "", "too long")
    SetCurrentDirectory(BIN)
    T.eq(GetCurrentDirectory(), BIN, "back")
    SetCurrentDirectory(nil)
    T.eq(GetCurrentDirectory(), BIN, "nil is a directory that cannot be found")
  end},

  {"GetExecPath refuses a program path longer than 259 characters", function(dir)
    local deep = dir .. "/" .. string.rep("p", 200) .. "/" .. string.rep("q", 60)
    os.execute("mkdir -p '" .. deep .. "'")
    local lua = deep .. "/lua"
    os.execute("cp \"$(readlink -f \"$(command -v '" .. arg[-1] .. "')\")\" '" .. lua .. "'")
    T.truthy(#lua > 259, "interpreter path length")
    local out, err, ok = T.child(dir, [[
      local ok, why = pcall(GetExecPath)
      io.stdout:write(tostring(ok), "|", tostring(why))
    ]], nil, lua)
    T.truthy(ok, "child ran: " .. tostring(err))
    T.eq(out, "false|GetExecPath: the program's path is unreadable or longer than 259 characters",
      "refused instead of naming some other directory")
  end},

  {"GetFileNameFromPath", function()
    T.eq(GetFileNameFromPath("images/v2/board.img"), "board.img", "after the last /")
    T.eq(GetFileNameFromPath("board.img"), "", "no /")
    T.eq(GetFileNameFromPath("images/"), "", "ending in /")
    T.eq(GetFileNameFromPath("/board.img"), "board.img", "directly below the root")
    T.raises("string expected", function() GetFileNameFromPath() end)
  end},
})
